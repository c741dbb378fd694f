#pragma once

// A simulated display registry.
//
// Implements: the recursive walk of the service plane over an ordered list of entries (display
// framebuffers with their product-name attributes, AV-service proxies each backed by a
// SimMonitor, any other entry), property shapes that are wrong on purpose, AV-service creation
// that fails per entry, a walk that cannot start, unplugging a monitor's entries, and telling the
// change handler on the main queue, once per turn, that entries came or went.
// Does not implement: other planes or a non-recursive walk (both answer with no iterator), or
// parent and child relations.
//
// A walk sees the entries as they were when it started; an AV service can only be created for
// an entry that is still there. Used from one thread.

#include "platform/Dispatch.h"
#include "platform/IORegistry.h"
#include "platform/sim/SimMonitor.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::sim {

inline constexpr std::string_view kSimFramebufferName = "AppleCLCD2";
inline constexpr std::string_view kSimMobileFramebufferName = "IOMobileFramebufferShim";
inline constexpr std::string_view kSimAVServiceProxyName = "DCPAVServiceProxy";
inline constexpr std::string_view kSimExternalLocation = "External";
inline constexpr std::string_view kSimInternalLocation = "Embedded";
inline constexpr std::string_view kSimEDIDUUIDKey = "EDID UUID";

// Where a framebuffer's product name goes missing or takes the wrong shape.
enum class ProductNameShape {
    Present,
    NoDisplayAttributes,
    DisplayAttributesNotDictionary,
    NoProductAttributes,
    ProductAttributesNotDictionary,
    NoProductName,
    ProductNameNotText,
};

class SimRegistry final : public IORegistry {
public:
    using EntryId = std::size_t;

    // Without a main queue, changes are not announced.
    explicit SimRegistry(std::shared_ptr<MainQueue> mainQueue = nullptr)
        : mainQueue_(std::move(mainQueue)) {}

    // The properties of a framebuffer entry naming its display, in the given shape.
    static RegistryDictionary
    framebufferProperties(std::string_view productName,
                          ProductNameShape shape = ProductNameShape::Present);
    static RegistryValue text(std::string_view value);

    // Any entry, with its raw name (any bytes, any length) and properties.
    EntryId addEntry(std::string rawName, RegistryDictionary properties = {},
                     std::shared_ptr<SimMonitor> monitor = nullptr);
    // A framebuffer entry; the monitor, when given, only ties the entry to it for unplugging.
    EntryId addFramebuffer(std::string_view productName,
                           ProductNameShape shape = ProductNameShape::Present,
                           std::shared_ptr<SimMonitor> monitor = nullptr,
                           std::string rawName = std::string(kSimFramebufferName));
    // An AV-service proxy backed by the monitor, with the given Location (none when nothing).
    EntryId addAVServiceProxy(std::shared_ptr<SimMonitor> monitor,
                              std::optional<RegistryValue> location = text(kSimExternalLocation),
                              std::string rawName = std::string(kSimAVServiceProxyName));
    // A framebuffer naming the display, with the EDID's UUID when given, followed by its
    // external proxy.
    void addExternalDisplay(std::shared_ptr<SimMonitor> monitor, std::string_view productName,
                            std::string_view edidUUID = {});

    void failAVServiceCreation(EntryId entry, bool fail = true);
    void failIteratorCreation(bool fail = true);
    // Removes every entry tied to the monitor.
    void unplug(const std::shared_ptr<SimMonitor>& monitor);

    std::size_t entryCount() const { return entries_.size(); }
    std::size_t iteratorsCreated() const { return iteratorsCreated_; }

    std::unique_ptr<RegistryIterator> createIterator(std::string_view plane,
                                                     std::uint32_t options) override;
    std::unique_ptr<AVService> createAVService(const RegistryEntry& entry) override;
    void setChangeHandler(std::function<void()> handler) override;

    struct Entry {
        EntryId id = 0;
        std::string rawName;
        RegistryDictionary properties;
        std::shared_ptr<SimMonitor> monitor;
        bool avServiceFails = false;
    };

private:
    EntryId add(Entry entry);
    void announceChange();

    std::vector<std::shared_ptr<Entry>> entries_;
    EntryId nextId_ = 0;
    bool iteratorFails_ = false;
    std::size_t iteratorsCreated_ = 0;
    std::shared_ptr<MainQueue> mainQueue_;
    std::function<void()> changeHandler_;
    // Shared with the queued announcement, which clears it when it runs.
    std::shared_ptr<bool> announcementQueued_ = std::make_shared<bool>(false);
};

} // namespace varnu::sim
