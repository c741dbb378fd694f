#include "platform/linux/DrmDisplays.h"

#include "ddc/VCP.h"
#include "platform/linux/Edid.h"
#include "platform/linux/I2cDevChannel.h"
#include "platform/linux/PermissionsHelp.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <tuple>

namespace varnu::linux_backend {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kCardPrefix = "card";
constexpr std::string_view kBusPrefix = "i2c-";
constexpr std::string_view kConnected = "connected";
constexpr std::array<std::string_view, 3> kInternalTypes{"eDP", "LVDS", "DSI"};
constexpr std::array<std::string_view, 2> kSkippedTypes{"Writeback", "Virtual"};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::optional<int> parseNumber(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// "card0-HDMI-A-1": card 0, type "HDMI-A", number 1. Entries such as "card0" or "renderD128"
// are the devices themselves, not connectors.
struct ConnectorName {
    int card = 0;
    std::string type;
    int number = 0;
};

std::optional<ConnectorName> parseConnectorName(std::string_view name) {
    if (!name.starts_with(kCardPrefix)) {
        return std::nullopt;
    }
    auto firstDash = name.find('-');
    auto lastDash = name.rfind('-');
    if (firstDash == std::string_view::npos || lastDash <= firstDash + 1) {
        return std::nullopt;
    }
    auto card = parseNumber(name.substr(kCardPrefix.size(), firstDash - kCardPrefix.size()));
    auto number = parseNumber(name.substr(lastDash + 1));
    if (!card || !number) {
        return std::nullopt;
    }
    return ConnectorName{*card, std::string(name.substr(firstDash + 1, lastDash - firstDash - 1)),
                         *number};
}

std::optional<int> parseBusName(std::string_view name) {
    if (!name.starts_with(kBusPrefix)) {
        return std::nullopt;
    }
    return parseNumber(name.substr(kBusPrefix.size()));
}

std::string readText(const fs::path& path) {
    std::ifstream file(path);
    std::string text;
    std::getline(file, text);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The connector's DDC bus: the adapter its ddc link points to, else the lowest i2c-N folder
// inside it, which is where DisplayPort puts the adapter of its AUX channel.
std::optional<int> findBus(const fs::path& connector) {
    std::error_code error;
    auto ddc = fs::read_symlink(connector / "ddc", error);
    if (!error) {
        if (auto bus = parseBusName(ddc.filename().string())) {
            return bus;
        }
        // A link to the adapter's i2c-dev class device rather than to the adapter.
        for (const auto& entry : fs::directory_iterator(connector / "ddc" / "i2c-dev", error)) {
            if (auto bus = parseBusName(entry.path().filename().string())) {
                return bus;
            }
        }
    }
    std::optional<int> lowest;
    for (const auto& entry : fs::directory_iterator(connector, error)) {
        auto bus = parseBusName(entry.path().filename().string());
        if (bus && entry.is_directory(error) && (!lowest || *bus < *lowest)) {
            lowest = bus;
        }
    }
    return lowest;
}

} // namespace

DrmDisplays::DrmDisplays(DrmPaths paths, std::shared_ptr<I2cTransport> transport,
                         std::ostream* diagnostics)
    : paths_(std::move(paths))
    , transport_(std::move(transport))
    , diagnostics_(diagnostics) {}

std::vector<DrmMonitor> DrmDisplays::monitors() const {
    struct Found {
        ConnectorName name;
        DrmMonitor monitor;
    };
    std::vector<Found> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(paths_.sysfsRoot, error)) {
        auto entryName = entry.path().filename().string();
        auto name = parseConnectorName(entryName);
        if (!name || contains(kSkippedTypes, name->type) || !entry.is_directory(error)) {
            continue;
        }
        if (readText(entry.path() / "status") != kConnected) {
            continue;
        }
        DrmMonitor monitor;
        monitor.connector = entryName;
        monitor.internal = contains(kInternalTypes, name->type);
        monitor.bus = findBus(entry.path());
        auto edid = readBytes(entry.path() / "edid");
        if (auto parsed = Edid::parse(edid)) {
            monitor.productName = parsed->monitorName();
        }
        found.push_back({std::move(*name), std::move(monitor)});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.name.card, a.name.type, a.name.number) <
               std::tie(b.name.card, b.name.type, b.name.number);
    });
    std::vector<DrmMonitor> result;
    result.reserve(found.size());
    for (auto& each : found) {
        result.push_back(std::move(each.monitor));
    }
    return result;
}

std::string DrmDisplays::busPath(int bus) const {
    return (fs::path(paths_.deviceRoot) / (std::string(kBusPrefix) + std::to_string(bus))).string();
}

std::vector<ExternalDisplay> DrmDisplays::externalDisplays() {
    std::vector<ExternalDisplay> displays;
    for (const auto& monitor : monitors()) {
        if (monitor.internal || !monitor.bus) {
            continue;
        }
        auto path = busPath(*monitor.bus);
        auto opened = I2cDevChannel::open(transport_, path, kDDCChipAddress);
        if (!opened.channel) {
            reportOnce(monitor, path, opened.error);
            continue;
        }
        displays.push_back({monitor.productName, std::move(opened.channel)});
    }
    return displays;
}

void DrmDisplays::reportOnce(const DrmMonitor& monitor, const std::string& path, int error) {
    if (!diagnostics_ || !reported_.insert(path + ":" + std::to_string(error)).second) {
        return;
    }
    *diagnostics_ << "varnu: " << monitor.connector << ": " << describeBusError(path, error)
                  << '\n';
}

std::string describeBusError(const std::string& path, int error) {
    switch (error) {
    case EBUSY:
        return path + " is busy: a kernel driver owns the display's DDC/CI address, so this "
                      "monitor cannot be controlled";
    case EACCES:
    case EPERM:
        return "no permission to open " + path + " (see " + permissionsHelpPage() + ")";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return path + " does not exist; load the i2c-dev module (modprobe i2c-dev)";
    case ENOTTY:
        return path + " is not an I2C device";
    default:
        return "cannot open " + path + ": " + std::generic_category().message(error);
    }
}

} // namespace varnu::linux_backend
