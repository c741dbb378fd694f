// varnu-probe: reports what Varnu's Linux backend sees (audio outputs, monitors, the volume
// keys, the way the overlay reaches the screen) and reads or writes one VCP control through the
// same code the application uses.

#include "audio/Audio.h"
#include "platform/PumpedMainQueue.h"
#include "platform/linux/VolumeKeyTaps.h"
#include "platform/linux/audio/PulseAudioHardware.h"
#include "platform/linux/displays/DrmDisplays.h"
#include "platform/linux/files/PermissionsHelp.h"
#include "platform/linux/files/PrintableText.h"
#include "platform/linux/input/EvdevCapabilities.h"
#include "platform/linux/input/EvdevDevice.h"
#include "platform/linux/input/InputDeviceList.h"
#include "platform/linux/input/InputPermissions.h"
#include "platform/linux/input/OtherDeviceAccess.h"
#include "platform/wayland/OverlayPath.h"
#include "tools/varnu-probe/Monitors.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

using namespace varnu;
using namespace varnu::linux_backend;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;
constexpr const char* kUinputPath = "/dev/uinput";
constexpr std::chrono::milliseconds kAudioServerWait{1500};

constexpr std::string_view kUsage =
    "usage: varnu-probe [--sysfs DIR] [--dev DIR] [--socket PATH]\n"
    "       varnu-probe [--sysfs DIR] [--dev DIR] [--socket PATH] monitors\n"
    "       varnu-probe [--socket PATH] keys\n"
    "       varnu-probe [--sysfs DIR] [--dev DIR] [--socket PATH] [--force] vcp BUS CODE [VALUE]\n"
    "\n"
    "Without a command, reports the audio outputs, the monitors and whether the volume keys\n"
    "can be caught. \"monitors\" reports only the monitors: through the device service or by\n"
    "Varnu itself, and why; then the displays the service found, or per connector the buses\n"
    "tried, what each did, and which one Varnu uses or why none. \"keys\" reports only the\n"
    "volume keys: through the device service or by Varnu itself, and why, and each keyboard\n"
    "with volume keys. \"vcp\" reads a VCP control of the monitor on /dev/i2c-BUS, or writes\n"
    "VALUE to it, through the device service where it serves you (0x62, 0x8D and 0xCA only).\n"
    "CODE and VALUE are decimal or hexadecimal (0x62). Names are printed with control\n"
    "characters as \\xNN.\n"
    "  --sysfs DIR    read the DRM tree from DIR instead of /sys/class/drm (and the I2C buses\n"
    "                 from DIR/../i2c-dev)\n"
    "  --dev DIR      look for the i2c-N device nodes in DIR instead of /dev\n"
    "  --socket PATH  ask the device service at PATH instead of /run/varnu/devices.socket\n"
    "  --force        speak to a bus that belongs to no display connector (whatever else\n"
    "                 answers at 0x37 there gets the request)\n";

bool runningAsRoot() {
    return ::geteuid() == 0;
}

std::optional<unsigned> parseNumber(std::string_view text, unsigned largest) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value > largest) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> parseBus(std::string_view text) {
    if (text.starts_with("i2c-")) {
        text.remove_prefix(4);
    }
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value > 100000) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// ---- Audio outputs: the PulseAudio backend, read through the core's own catalogue. ----
void reportAudioOutputs(std::ostream& out) {
    out << "Audio outputs\n";
    auto mainQueue = std::make_shared<PumpedMainQueue>();
    // Whether the server answered is this report's to say.
    PulseAudioHardware hardware(mainQueue, {.diagnostics = nullptr});
    mainQueue->pumpUntil([&] { return hardware.isConnected(); }, kAudioServerWait);
    if (!hardware.isConnected()) {
        out << "  no audio server answered (PulseAudio, or PipeWire's pulse server)\n";
        return;
    }
    AudioPropertyData data;
    AudioObjectID defaultOutput = kAudioObjectUnknown;
    if (hardware.getPropertyData(kAudioObjectSystemObject,
                                 {kAudioHardwarePropertyDefaultOutputDevice,
                                  kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain},
                                 data) == kAudioHardwareNoError) {
        if (auto* id = std::get_if<AudioObjectID>(&data)) {
            defaultOutput = *id;
        }
    }
    auto outputs = Audio::outputDevices(hardware);
    if (outputs.empty()) {
        out << "  none\n";
    }
    for (const auto& output : outputs) {
        out << "  " << (output.id == defaultOutput ? "* " : "  ") << printableText(output.uid)
            << "  \"" << printableText(output.name) << "\"  "
            << (Audio::hasNativeVolume(hardware, output.id) ? "native volume" : "no native volume")
            << '\n';
    }
    if (!outputs.empty()) {
        out << "  (* the default output)\n";
    }
}

// What the tap would do with a keyboard that has volume keys, and why it cannot yet.
std::string grabOutlook(EvdevDevice& device) {
    if (auto reason = whyLeftAlone(device.evdev())) {
        return *reason == LeftAlone::ReportsSwitches
                   ? "left alone: it also reports switches (lid, tablet mode)"
                   : "left alone: it has a touch surface, pen or stick";
    }
    // Tried for an instant: only another holder makes it fail.
    if (int error = device.grab(); error != 0) {
        return error == EBUSY ? "busy: another program holds it (keyd, input-remapper, evtest "
                                "or a running Varnu); Varnu keeps trying"
                              : "cannot be grabbed: " + std::generic_category().message(error);
    }
    device.ungrab();
    if (auto keys = device.keyState(); keys && anyKeyDown(*keys)) {
        return "waiting: a key is held down; Varnu takes it once every key is up";
    }
    return movesRelativePointer(device.evdev()) ? "can be taken; its pointer passes through Varnu"
                                                : "can be taken";
}

void reportVolumeKeys(std::ostream& out, const std::string& socketPath) {
    out << "Volume keys\n";
    VolumeKeyTapSettings settings;
    settings.socketPath = socketPath;
    VolumeKeyTaps taps(std::make_shared<PumpedMainQueue>(), settings, nullptr);
    auto path = taps.path();
    out << "  " << printableText(path.why) << '\n';
    auto devices = findKeyEventDevices();
    std::vector<std::pair<KeyEventDevice, std::unique_ptr<EvdevDevice>>> opened;
    const bool throughService = path.route == VolumeKeyTaps::Route::Service;
    int unreadable = 0;
    for (const auto& found : devices) {
        int error = 0;
        auto device = EvdevDevice::open(found.node, error);
        if (!device) {
            // With the service, that is as it should be.
            if (!throughService || error != EACCES) {
                out << "  " << printableText(found.node)
                    << "  cannot be read: " << std::generic_category().message(error) << '\n';
            }
            ++unreadable;
            continue;
        }
        opened.emplace_back(found, std::move(device));
    }
    // A virtual device with a real one's identity passes that one's keys on (a running Varnu's
    // clone): taking it would put two taps in a row.
    auto copied = [&](const KeyEventDevice& found, const EvdevDevice& device) -> std::string {
        if (!isVirtualDevice(found.syspath)) {
            return {};
        }
        for (const auto& [other, otherDevice] : opened) {
            if (!isVirtualDevice(other.syspath) &&
                identityOf(otherDevice->evdev()) == identityOf(device.evdev())) {
                return other.node;
            }
        }
        return {};
    };
    int withVolumeKeys = 0;
    for (auto& [found, device] : opened) {
        if (!hasVolumeKeys(device->evdev())) {
            continue;
        }
        ++withVolumeKeys;
        auto original = copied(found, *device);
        out << "  " << printableText(found.node) << "  \"" << printableText(device->name())
            << "\"  "
            << printableText(original.empty() ? grabOutlook(*device)
                                              : "left alone: a virtual copy of " + original +
                                                    " that passes its keys on (a running Varnu)")
            << '\n';
    }
    if (devices.empty()) {
        out << "  no keyboards found\n";
    } else if (throughService && unreadable > 0) {
        out << "  (" << unreadable
            << " keyboards are the service's to read, not this user's, as it should be)\n";
    } else if (withVolumeKeys == 0) {
        out << "  no readable keyboard with volume keys\n";
    }
    if (throughService) {
        probe::reportOtherDeviceAccess(out, HeldDevices::Uinput);
    }
    if (throughService) {
        out << "  keys can be caught: "
            << (path.ready        ? "yes"
                : runningAsRoot() ? "no: run varnu-probe without sudo, the service answers for "
                                    "the user in front of the seat, never for root"
                                  : "no")
            << '\n';
        return;
    }
    auto access = checkInputAccess(keyEventDevices(), kUinputPath, FileAccess::system());
    if (auto missing = describeMissingAccess(access, kUinputPath, permissionsHelpPage())) {
        out << "  keys can be grabbed: no. " << *missing << '\n';
    } else if (runningAsRoot()) {
        out << "  keys can be grabbed: by root; run varnu-probe without sudo to see whether you "
               "can\n";
    } else if (withVolumeKeys == 0) {
        out << "  keys can be grabbed: no keyboard to grab yet (access is granted)\n";
    } else {
        out << "  keys can be grabbed: yes\n";
    }
}

int usageError(std::string_view problem) {
    std::cerr << "varnu-probe: " << problem << "\n\n" << kUsage;
    return kUsageError;
}

} // namespace

int main(int argc, char** argv) {
    DrmPaths paths;
    bool force = false;
    std::string socketPath = devices::kServiceSocketPath;
    std::vector<std::string_view> words;
    for (int index = 1; index < argc; ++index) {
        std::string_view argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return kSuccess;
        }
        if (argument == "--sysfs" || argument == "--dev" || argument == "--socket") {
            if (index + 1 >= argc) {
                return usageError(std::string(argument) + " needs a path");
            }
            (argument == "--sysfs" ? paths.sysfsRoot
             : argument == "--dev" ? paths.deviceRoot
                                   : socketPath) = argv[++index];
            continue;
        }
        if (argument == "--force") {
            force = true;
            continue;
        }
        if (argument.starts_with("--")) {
            return usageError("unknown option " + std::string(argument));
        }
        words.push_back(argument);
    }

    if (runningAsRoot()) {
        std::cout << "varnu-probe: running as root: what root may do, not what Varnu may in your "
                     "session; run it without sudo for that\n\n";
    }
    if (words.empty()) {
        std::cout << "varnu-probe: what Varnu's Linux backend sees\n\n";
        if (runningAsRoot()) {
            // The audio client would ask root's server, and may leave root's files in HOME.
            std::cout << "Audio outputs\n  not asked as root\n";
        } else {
            reportAudioOutputs(std::cout);
        }
        std::cout << '\n';
        probe::reportMonitors(std::cout, {paths, socketPath});
        std::cout << '\n';
        reportVolumeKeys(std::cout, socketPath);
        std::cout << "\nOverlay: " << wayland::describe(wayland::sessionOverlayPath()) << '\n';
        return kSuccess;
    }
    if (words[0] == "keys" && words.size() == 1) {
        reportVolumeKeys(std::cout, socketPath);
        return kSuccess;
    }
    if (words[0] == "monitors" && words.size() == 1) {
        probe::reportMonitors(std::cout, {paths, socketPath});
        return kSuccess;
    }
    if (words[0] != "vcp") {
        return usageError("unknown command " + std::string(words[0]));
    }
    if (words.size() < 3 || words.size() > 4) {
        return usageError("vcp needs BUS CODE [VALUE]");
    }
    auto bus = parseBus(words[1]);
    auto code = parseNumber(words[2], 0xFF);
    std::optional<unsigned> value;
    if (words.size() == 4) {
        value = parseNumber(words[3], 0xFFFF);
        if (!value) {
            return usageError("VALUE must be a number from 0 to 65535");
        }
    }
    if (!bus) {
        return usageError("BUS must be the number N of /dev/i2c-N");
    }
    if (!code) {
        return usageError("CODE must be a number from 0 to 255 (0xFF)");
    }
    std::optional<std::uint16_t> newValue;
    if (value) {
        newValue = static_cast<std::uint16_t>(*value);
    }
    return probe::runVcp({paths, socketPath}, *bus, static_cast<std::uint8_t>(*code), newValue,
                         force);
}
