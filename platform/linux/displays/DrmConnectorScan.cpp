#include "platform/linux/displays/DrmConnectorScan.h"

#include "platform/linux/displays/Edid.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <tuple>

namespace varnu::linux_backend {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kCardPrefix = "card";
// The i2c-dev class folder beside the DRM one (/sys/class/i2c-dev): one entry per bus with a
// device node, linked to its adapter.
constexpr std::string_view kI2cDevClass = "../i2c-dev";
constexpr std::string_view kNvidiaAdapterPrefix = "NVIDIA i2c adapter";
constexpr std::string_view kBusPrefix = "i2c-";
constexpr std::string_view kConnected = "connected";
constexpr std::string_view kDisplayPortType = "DP";
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

// The i2c-N adapters directly inside a folder, by number.
std::map<int, std::string> adaptersIn(const fs::path& folder) {
    std::map<int, std::string> adapters;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        auto bus = parseBusName(entry.path().filename().string());
        if (bus && entry.is_directory(error)) {
            adapters[*bus] = readText(entry.path() / "name");
        }
    }
    return adapters;
}

// The adapter the connector's ddc link points to. The link may lead to the adapter itself or to
// a device that holds the adapter's i2c-dev class entry.
std::optional<BusCandidate> ddcLink(const fs::path& connector) {
    std::error_code error;
    auto target = fs::read_symlink(connector / "ddc", error);
    if (error) {
        return std::nullopt;
    }
    if (auto bus = parseBusName(target.filename().string())) {
        return BusCandidate{*bus, BusRoute::DdcLink, readText(connector / "ddc" / "name")};
    }
    for (const auto& entry : fs::directory_iterator(connector / "ddc" / "i2c-dev", error)) {
        if (auto bus = parseBusName(entry.path().filename().string())) {
            return BusCandidate{*bus, BusRoute::DdcLink, readText(connector / "ddc" / "name")};
        }
    }
    return std::nullopt;
}

// The device a card belongs to (its GPU), as a canonical path; empty when it cannot be told.
fs::path gpuOfCard(const fs::path& sysfsRoot, int card) {
    std::error_code error;
    auto gpu = fs::canonical(
        sysfsRoot / (std::string(kCardPrefix) + std::to_string(card)) / "device", error);
    return error ? fs::path() : gpu;
}

// The NVIDIA adapters of GPUs that have no connectors, each as a display of its own.
std::vector<DrmConnector> busesWithoutConnectors(const fs::path& sysfsRoot,
                                                 const std::set<fs::path>& gpusWithConnectors) {
    std::map<int, DrmConnector> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysfsRoot / kI2cDevClass, error)) {
        const auto bus = parseBusName(entry.path().filename().string());
        const auto adapterName = readText(entry.path() / "name");
        std::error_code unresolved;
        const auto adapter = fs::canonical(entry.path() / "device", unresolved);
        if (!bus || unresolved || !adapterName.starts_with(kNvidiaAdapterPrefix) ||
            gpusWithConnectors.contains(adapter.parent_path())) {
            continue;
        }
        DrmConnector display;
        display.name = entry.path().filename().string();
        display.withoutConnector = true;
        display.candidates.push_back({*bus, BusRoute::GpuBus, adapterName});
        found[*bus] = std::move(display);
    }
    std::vector<DrmConnector> displays;
    for (auto& [bus, display] : found) {
        displays.push_back(std::move(display));
    }
    return displays;
}

void addOnce(std::vector<BusCandidate>& candidates, const BusCandidate& candidate) {
    if (std::none_of(candidates.begin(), candidates.end(),
                     [&](const BusCandidate& listed) { return listed.bus == candidate.bus; })) {
        candidates.push_back(candidate);
    }
}

struct Found {
    ConnectorName name;
    fs::path folder;
    bool connected = false;
    std::optional<BusCandidate> ddc;
    std::map<int, std::string> inside;
};

} // namespace

std::vector<DrmConnector> scanConnectedConnectors(const std::string& sysfsRoot) {
    std::vector<Found> found;
    // Buses a connector links to or holds belong to that connector, whether connected or not.
    std::map<int, std::set<int>> claimedByCard;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysfsRoot, error)) {
        auto entryName = entry.path().filename().string();
        auto name = parseConnectorName(entryName);
        if (!name || contains(kSkippedTypes, name->type) || !entry.is_directory(error)) {
            continue;
        }
        Found connector{*name, entry.path(), readText(entry.path() / "status") == kConnected,
                        ddcLink(entry.path()), adaptersIn(entry.path())};
        auto& claimed = claimedByCard[name->card];
        if (connector.ddc) {
            claimed.insert(connector.ddc->bus);
        }
        for (const auto& [bus, adapterName] : connector.inside) {
            claimed.insert(bus);
        }
        found.push_back(std::move(connector));
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.name.card, a.name.type, a.name.number) <
               std::tie(b.name.card, b.name.type, b.name.number);
    });

    std::map<int, std::vector<BusCandidate>> sharedByCard;
    auto shared = [&](int card) -> const std::vector<BusCandidate>& {
        auto [place, isNew] = sharedByCard.try_emplace(card);
        if (isNew) {
            const fs::path cardFolder =
                fs::path(sysfsRoot) / (std::string(kCardPrefix) + std::to_string(card));
            auto adapters = adaptersIn(cardFolder);
            adapters.merge(adaptersIn(cardFolder / "device"));
            for (const auto& [bus, adapterName] : adapters) {
                if (!claimedByCard[card].contains(bus)) {
                    place->second.push_back({bus, BusRoute::CardAdapter, adapterName});
                }
            }
        }
        return place->second;
    };

    std::vector<DrmConnector> connectors;
    std::set<fs::path> gpusWithConnectors;
    for (auto& each : found) {
        gpusWithConnectors.insert(gpuOfCard(fs::path(sysfsRoot), each.name.card));
        if (!each.connected) {
            continue;
        }
        DrmConnector connector;
        connector.name = each.folder.filename().string();
        connector.internal = contains(kInternalTypes, each.name.type);
        connector.nativeDisplayPort = each.name.type == kDisplayPortType;
        connector.edid = readBytes(each.folder / "edid");
        if (auto parsed = Edid::parse(connector.edid)) {
            connector.productName = parsed->monitorName();
        }
        // An Intel DP connector's ddc link is its own AUX adapter: each bus is tried once.
        if (!connector.nativeDisplayPort && each.ddc) {
            addOnce(connector.candidates, *each.ddc);
        }
        for (const auto& [bus, adapterName] : each.inside) {
            addOnce(connector.candidates, {bus, BusRoute::ConnectorAdapter, adapterName});
        }
        if (connector.nativeDisplayPort && each.ddc) {
            addOnce(connector.candidates, *each.ddc);
        }
        for (const auto& candidate : shared(each.name.card)) {
            addOnce(connector.candidates, candidate);
        }
        connectors.push_back(std::move(connector));
    }
    gpusWithConnectors.erase(fs::path());
    auto alone = busesWithoutConnectors(fs::path(sysfsRoot), gpusWithConnectors);
    connectors.insert(connectors.end(), std::make_move_iterator(alone.begin()),
                      std::make_move_iterator(alone.end()));
    return connectors;
}

bool mayBeExternal(const DrmConnector& connector) {
    return !connector.internal || !connector.productName.empty();
}

} // namespace varnu::linux_backend
