#include "tools/varnu-probe/Monitors.h"

#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"
#include "platform/PumpedMainQueue.h"
#include "platform/SleepingPause.h"
#include "platform/linux/ServiceDisplays.h"
#include "platform/linux/VolumeKeyTaps.h"
#include "platform/linux/displays/DdcBusProbe.h"
#include "platform/linux/displays/DrmConnectorScan.h"
#include "platform/linux/displays/I2cDevChannel.h"
#include "platform/linux/files/PrintableText.h"
#include "platform/linux/input/OtherDeviceAccess.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>
#include <unistd.h>

namespace varnu::probe {
namespace {

using namespace linux_backend;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
// A service just started looks at every bus before it lists anything.
constexpr std::chrono::milliseconds kFirstListWait{10000};
constexpr std::array kServiceControls{kVCPAudioSpeakerVolume, kVCPAudioMute, kVCPOSD};

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// Reads or writes the control and says how it went.
int speak(DDCMonitor& monitor, int bus, std::uint8_t code, std::optional<std::uint16_t> value) {
    if (value) {
        if (!monitor.write(code, *value)) {
            std::cerr << "varnu-probe: the monitor on bus " << bus
                      << " did not accept the write (no answer on the bus)\n";
            return kFailure;
        }
        std::cout << "VCP " << hex(code) << " set to " << *value << '\n';
        return kSuccess;
    }
    auto reading = monitor.read(code);
    if (!reading) {
        std::cerr << "varnu-probe: the monitor on bus " << bus << " did not answer for VCP "
                  << hex(code)
                  << " (it may not support the control, or DDC/CI is off in its own menu)\n";
        return kFailure;
    }
    std::cout << "VCP " << hex(code) << ": current " << reading->current << ", maximum "
              << reading->max << '\n';
    return kSuccess;
}

const char* routeName(BusRoute route) {
    switch (route) {
    case BusRoute::DdcLink:
        return "ddc link";
    case BusRoute::ConnectorAdapter:
        return "connector's adapter";
    case BusRoute::CardAdapter:
        return "card's adapter";
    case BusRoute::GpuBus:
        return "GPU's adapter";
    }
    return "";
}

// Each connector with the buses tried for it, in order, what each did, and the verdict.
void reportByBus(std::ostream& out, const DrmPaths& paths) {
    auto connectors = scanConnectedConnectors(paths.sysfsRoot);
    if (connectors.empty()) {
        out << "  no connected display found\n";
    }
    DdcBusProbe probe(std::make_shared<SystemI2cTransport>(), paths.deviceRoot,
                      std::make_shared<SleepingPause>());
    std::set<int> taken;
    for (const auto& connector : connectors) {
        if (connector.withoutConnector) {
            out << "  " << printableText(connector.name) << "  (a GPU without connectors)\n";
        } else {
            out << "  " << printableText(connector.name) << "  \""
                << (connector.productName.empty() ? "(no name)"
                                                  : printableText(connector.productName))
                << "\"  "
                << (!connector.internal        ? "external"
                    : mayBeExternal(connector) ? "internal connector, named like a monitor"
                                               : "internal, not controlled")
                << '\n';
        }
        if (!mayBeExternal(connector)) {
            continue;
        }
        auto verdict = probe.probe(connector, taken);
        for (const auto& trial : verdict.trials) {
            const auto path = probe.busPath(trial.candidate.bus);
            out << "    i2c-" << trial.candidate.bus << " (" << routeName(trial.candidate.route);
            if (!trial.candidate.adapterName.empty()) {
                out << ", \"" << printableText(trial.candidate.adapterName) << '"';
            }
            out << "): " << printableText(describeTrial(trial, path)) << '\n';
        }
        if (verdict.bus) {
            taken.insert(*verdict.bus);
            if (connector.withoutConnector) {
                out << "    -> \"" << printableText(DdcBusProbe::displayName(connector, verdict))
                    << "\"\n";
            }
            out << "    -> DDC/CI on " << probe.busPath(*verdict.bus) << '\n';
        } else {
            out << "    -> not controlled: "
                << printableText(describeVerdict(verdict, paths.deviceRoot)) << '\n';
        }
    }
}

// The connector whose display Varnu's discovery finds on the bus.
std::optional<DrmConnector> connectorFoundOn(const DrmPaths& paths, int bus) {
    DdcBusProbe probe(std::make_shared<SystemI2cTransport>(), paths.deviceRoot,
                      std::make_shared<SleepingPause>());
    std::set<int> taken;
    for (const auto& connector : scanConnectedConnectors(paths.sysfsRoot)) {
        if (!mayBeExternal(connector)) {
            continue;
        }
        if (auto found = probe.probe(connector, taken).bus) {
            if (*found == bus) {
                return connector;
            }
            taken.insert(*found);
        }
    }
    return std::nullopt;
}

int runVcpOnBus(const DrmPaths& paths, int bus, std::uint8_t code,
                std::optional<std::uint16_t> value, bool force) {
    std::string name;
    bool known = false;
    bool cardAdapter = false;
    const auto sayOwner = [&](const DrmConnector& connector) {
        name = connector.productName;
        known = true;
        std::cout << "bus " << bus << ": " << printableText(connector.name) << " \""
                  << (name.empty() ? "(no name)" : printableText(name)) << "\"\n";
    };
    for (const auto& connector : scanConnectedConnectors(paths.sysfsRoot)) {
        for (const auto& candidate : connector.candidates) {
            // An adapter the whole card or GPU shares does not say which display it reaches.
            if (candidate.bus == bus && isOwnBus(candidate.route)) {
                sayOwner(connector);
            }
            cardAdapter = cardAdapter || candidate.bus == bus;
        }
    }
    if (!known && cardAdapter) {
        if (auto owner = connectorFoundOn(paths, bus)) {
            sayOwner(*owner);
        }
    }
    // Even a read begins with a request written to 0x37, which on a bus of the graphics card's
    // own may reach another chip.
    if (!known && !force) {
        std::cerr << "varnu-probe: bus " << bus << " belongs to no connector under "
                  << paths.sysfsRoot << "; pass --force to speak to it anyway\n";
        return kFailure;
    }
    if (!known) {
        std::cout << "bus " << bus << " belongs to no connector under " << paths.sysfsRoot
                  << "; trying anyway (--force)\n";
    }
    auto path = i2cDevicePath(paths.deviceRoot, bus);
    // Why the bus failed goes to stderr as it happens, before the verdict below.
    DDCMonitor monitor(std::make_unique<I2cDevChannel>(std::make_shared<SystemI2cTransport>(), path,
                                                       static_cast<std::uint8_t>(kDDCChipAddress),
                                                       std::make_shared<I2cDevReports>(&std::cerr)),
                       name, std::make_shared<SleepingPause>());
    return speak(monitor, bus, code, value);
}

// The service's displays, when it serves this user; why not otherwise.
struct ServicePath {
    std::shared_ptr<devices::DevicesConnection> connection;
    std::string why;
};

ServicePath servicePath(const std::string& socketPath) {
    VolumeKeyTapSettings settings;
    settings.socketPath = socketPath;
    VolumeKeyTaps taps(std::make_shared<PumpedMainQueue>(), settings, nullptr);
    auto path = taps.path();
    auto connection = taps.serviceConnection();
    if (path.route == VolumeKeyTaps::Route::Service && path.ready) {
        return {connection, "through Varnu's device service (" + socketPath + ")"};
    }
    return {nullptr, "by Varnu itself over the i2c-dev buses, since " +
                         (path.route == VolumeKeyTaps::Route::Service
                              ? "the device service does not serve this user"
                              : std::string("no device service is installed"))};
}

void reportThroughService(std::ostream& out, ServiceDisplays& displays) {
    if (!displays.waitForList(kFirstListWait)) {
        out << "  the device service told no list within "
            << std::chrono::duration_cast<std::chrono::seconds>(kFirstListWait).count() << " s\n";
        return;
    }
    auto entries = displays.entries();
    if (entries.empty()) {
        out << "  none: the service found no display that answers DDC/CI (run varnu-probe "
               "monitors as root to see each bus)\n";
    }
    for (const auto& entry : entries) {
        out << "  i2c-" << entry.bus << "  \""
            << (entry.productName.empty() ? "(no name)" : printableText(entry.productName))
            << "\"  " << printableText(entry.identity) << '\n';
    }
}

int runVcpThroughService(ServiceDisplays& displays, int bus, std::uint8_t code,
                         std::optional<std::uint16_t> value) {
    if (std::find(kServiceControls.begin(), kServiceControls.end(), code) ==
        kServiceControls.end()) {
        std::cerr << "varnu-probe: the device service carries only VCP 0x62, 0x8D and 0xCA\n";
        return kFailure;
    }
    displays.waitForList(kFirstListWait);
    for (const auto& entry : displays.entries()) {
        if (entry.bus == bus) {
            std::cout << "bus " << bus << ": \"" << printableText(entry.productName)
                      << "\", through the device service\n";
            DDCMonitor monitor(displays.channelFor(entry), entry.productName,
                               std::make_shared<SleepingPause>());
            return speak(monitor, bus, code, value);
        }
    }
    std::cerr << "varnu-probe: bus " << bus
              << " carries no display the device service found, and it speaks to no other "
                 "(varnu-probe monitors lists them)\n";
    return kFailure;
}

} // namespace

void reportOtherDeviceAccess(std::ostream& out, HeldDevices kind) {
    if (::geteuid() == 0) {
        return;
    }
    if (auto line = describeOtherDeviceAccess(otherDeviceAccess(kind, FileAccess::system()))) {
        out << "  " << printableText(*line) << '\n';
    }
}

void reportMonitors(std::ostream& out, const MonitorsSetup& setup) {
    auto path = servicePath(setup.socketPath);
    out << "Monitors, reached " << printableText(path.why) << '\n';
    if (path.connection) {
        ServiceDisplays displays(path.connection, std::make_shared<PumpedMainQueue>());
        reportThroughService(out, displays);
        reportOtherDeviceAccess(out, HeldDevices::DisplayBuses);
        return;
    }
    out << "  (" << setup.paths.sysfsRoot << ")\n";
    reportByBus(out, setup.paths);
}

int runVcp(const MonitorsSetup& setup, int bus, std::uint8_t code,
           std::optional<std::uint16_t> value, bool force) {
    if (auto path = servicePath(setup.socketPath); path.connection) {
        ServiceDisplays displays(path.connection, std::make_shared<PumpedMainQueue>());
        return runVcpThroughService(displays, bus, code, value);
    }
    return runVcpOnBus(setup.paths, bus, code, value, force);
}

} // namespace varnu::probe
