#include "ddc/DDCMonitor.h"
#include "ddc/RegistryEntryName.h"

#include <array>
#include <map>
#include <utility>

namespace varnu {

namespace {

constexpr std::array<std::string_view, 2> kFramebufferNamePrefixes{"AppleCLCD2",
                                                                   "IOMobileFramebufferShim"};
constexpr std::string_view kDisplayAttributesKey = "DisplayAttributes";
constexpr std::string_view kProductAttributesKey = "ProductAttributes";
constexpr std::string_view kProductNameKey = "ProductName";
// The display's EDID as a UUID: the same monitor gives the same one on every walk.
constexpr std::string_view kEDIDUUIDKey = "EDID UUID";

constexpr std::string_view kAVServiceProxyName = "DCPAVServiceProxy";
constexpr std::string_view kLocationKey = "Location";
constexpr std::string_view kExternalLocation = "External";

bool isFramebuffer(std::string_view name) {
    for (const auto prefix : kFramebufferNamePrefixes) {
        if (name.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

// DisplayAttributes → ProductAttributes → ProductName, or nothing at the first step that is
// missing or of another shape.
std::optional<std::string> productName(const RegistryEntry& entry) {
    const auto displayAttributes = entry.property(kDisplayAttributesKey);
    if (!displayAttributes || !displayAttributes->dictionary()) {
        return std::nullopt;
    }
    const RegistryValue* productAttributes =
        findField(*displayAttributes->dictionary(), kProductAttributesKey);
    if (!productAttributes || !productAttributes->dictionary()) {
        return std::nullopt;
    }
    const RegistryValue* name = findField(*productAttributes->dictionary(), kProductNameKey);
    if (!name || !name->text()) {
        return std::nullopt;
    }
    return *name->text();
}

std::string edidUUID(const RegistryEntry& entry) {
    const auto uuid = entry.property(kEDIDUUIDKey);
    return uuid && uuid->text() ? *uuid->text() : std::string();
}

// Where the platform cannot tell displays apart, the name and the place among the displays of
// that name stand in: right as long as such displays are not swapped between two walks.
class Identities {
public:
    std::string next(const std::string& given, const std::string& name) {
        const int place = ++seen_[name];
        return given.empty() ? name + "#" + std::to_string(place) : given;
    }

private:
    std::map<std::string, int> seen_;
};

bool isExternal(const RegistryEntry& entry) {
    const auto location = entry.property(kLocationKey);
    return location && location->text() && *location->text() == kExternalLocation;
}

} // namespace

std::vector<std::shared_ptr<DDCMonitor>>
DDCMonitor::externalMonitors(IORegistry& registry, std::shared_ptr<Pause> pause) {
    std::vector<std::shared_ptr<DDCMonitor>> monitors;
    auto iterator = registry.createIterator(kIOServicePlane, kIORegistryIterateRecursively);
    if (!iterator) {
        return monitors;
    }
    // A display's framebuffer comes before the proxy that carries its I2C bus, so the last
    // product name seen names the proxies that follow it.
    std::string pendingName;
    std::string pendingUUID;
    Identities identities;
    while (auto entry = iterator->next()) {
        const std::string name = registryEntryName(entry->rawName());
        if (isFramebuffer(name)) {
            if (auto product = productName(*entry)) {
                pendingName = std::move(*product);
            }
            pendingUUID = edidUUID(*entry);
        } else if (name == kAVServiceProxyName && isExternal(*entry)) {
            if (auto service = registry.createAVService(*entry)) {
                monitors.push_back(std::make_shared<DDCMonitor>(
                    std::move(service), pendingName, pause,
                    identities.next(std::exchange(pendingUUID, {}), pendingName)));
            }
        }
    }
    return monitors;
}

std::vector<std::shared_ptr<DDCMonitor>>
DDCMonitor::externalMonitors(DisplayEnumerator& displays, std::shared_ptr<Pause> pause) {
    std::vector<std::shared_ptr<DDCMonitor>> monitors;
    Identities identities;
    for (auto& display : displays.externalDisplays()) {
        if (display.service) {
            auto identity = identities.next(display.identity, display.productName);
            monitors.push_back(std::make_shared<DDCMonitor>(std::move(display.service),
                                                            std::move(display.productName), pause,
                                                            std::move(identity)));
        }
    }
    return monitors;
}

} // namespace varnu
