#include "platform/sim/SimRegistry.h"

#include <algorithm>

namespace varnu::sim {

namespace {

constexpr std::string_view kServicePlane = "IOService";
constexpr std::uint32_t kIterateRecursively = 1;
constexpr std::string_view kDisplayAttributes = "DisplayAttributes";
constexpr std::string_view kProductAttributes = "ProductAttributes";
constexpr std::string_view kProductName = "ProductName";
constexpr std::string_view kLocation = "Location";

RegistryValue number(std::string_view description) {
    return RegistryValue{RegistryOtherValue{std::string(description)}};
}

class SimRegistryEntry final : public RegistryEntry {
public:
    explicit SimRegistryEntry(std::shared_ptr<const SimRegistry::Entry> entry)
        : entry_(std::move(entry)) {}

    std::string rawName() const override { return entry_->rawName; }
    std::optional<RegistryValue> property(std::string_view key) const override {
        if (const RegistryValue* value = findField(entry_->properties, key)) {
            return *value;
        }
        return std::nullopt;
    }
    SimRegistry::EntryId id() const { return entry_->id; }

private:
    std::shared_ptr<const SimRegistry::Entry> entry_;
};

class SimRegistryIterator final : public RegistryIterator {
public:
    explicit SimRegistryIterator(std::vector<std::shared_ptr<SimRegistry::Entry>> entries)
        : entries_(std::move(entries)) {}

    std::unique_ptr<RegistryEntry> next() override {
        if (position_ >= entries_.size()) {
            return nullptr;
        }
        return std::make_unique<SimRegistryEntry>(entries_[position_++]);
    }

private:
    std::vector<std::shared_ptr<SimRegistry::Entry>> entries_;
    std::size_t position_ = 0;
};

} // namespace

RegistryValue SimRegistry::text(std::string_view value) {
    return RegistryValue{std::string(value)};
}

RegistryDictionary SimRegistry::framebufferProperties(std::string_view productName,
                                                      ProductNameShape shape) {
    if (shape == ProductNameShape::NoDisplayAttributes) {
        return {};
    }
    if (shape == ProductNameShape::DisplayAttributesNotDictionary) {
        return {{std::string(kDisplayAttributes), text(productName)}};
    }
    RegistryDictionary productAttributes;
    if (shape == ProductNameShape::ProductNameNotText) {
        productAttributes.push_back({std::string(kProductName), number("1")});
    } else if (shape != ProductNameShape::NoProductName) {
        productAttributes.push_back({std::string(kProductName), text(productName)});
    }
    RegistryDictionary displayAttributes;
    if (shape == ProductNameShape::ProductAttributesNotDictionary) {
        displayAttributes.push_back({std::string(kProductAttributes), text(productName)});
    } else if (shape != ProductNameShape::NoProductAttributes) {
        displayAttributes.push_back(
            {std::string(kProductAttributes), RegistryValue{std::move(productAttributes)}});
    }
    return {{std::string(kDisplayAttributes), RegistryValue{std::move(displayAttributes)}}};
}

SimRegistry::EntryId SimRegistry::add(Entry entry) {
    entry.id = nextId_++;
    entries_.push_back(std::make_shared<Entry>(std::move(entry)));
    announceChange();
    return entries_.back()->id;
}

void SimRegistry::setChangeHandler(std::function<void()> handler) {
    changeHandler_ = std::move(handler);
}

void SimRegistry::announceChange() {
    if (!mainQueue_ || !changeHandler_ || *announcementQueued_) {
        return;
    }
    *announcementQueued_ = true;
    mainQueue_->async([queued = announcementQueued_, handler = changeHandler_] {
        *queued = false;
        handler();
    });
}

SimRegistry::EntryId SimRegistry::addEntry(std::string rawName, RegistryDictionary properties,
                                           std::shared_ptr<SimMonitor> monitor) {
    return add(Entry{0, std::move(rawName), std::move(properties), std::move(monitor), false});
}

SimRegistry::EntryId SimRegistry::addFramebuffer(std::string_view productName,
                                                 ProductNameShape shape,
                                                 std::shared_ptr<SimMonitor> monitor,
                                                 std::string rawName) {
    return addEntry(std::move(rawName), framebufferProperties(productName, shape),
                    std::move(monitor));
}

SimRegistry::EntryId SimRegistry::addAVServiceProxy(std::shared_ptr<SimMonitor> monitor,
                                                    std::optional<RegistryValue> location,
                                                    std::string rawName) {
    RegistryDictionary properties;
    if (location) {
        properties.push_back({std::string(kLocation), std::move(*location)});
    }
    return addEntry(std::move(rawName), std::move(properties), std::move(monitor));
}

void SimRegistry::addExternalDisplay(std::shared_ptr<SimMonitor> monitor,
                                     std::string_view productName, std::string_view edidUUID) {
    auto properties = framebufferProperties(productName);
    if (!edidUUID.empty()) {
        properties.push_back({std::string(kSimEDIDUUIDKey), text(edidUUID)});
    }
    addEntry(std::string(kSimFramebufferName), std::move(properties), monitor);
    addAVServiceProxy(std::move(monitor));
}

void SimRegistry::failAVServiceCreation(EntryId entry, bool fail) {
    for (auto& candidate : entries_) {
        if (candidate->id == entry) {
            candidate->avServiceFails = fail;
        }
    }
}

void SimRegistry::failIteratorCreation(bool fail) {
    iteratorFails_ = fail;
}

void SimRegistry::unplug(const std::shared_ptr<SimMonitor>& monitor) {
    if (std::erase_if(entries_, [&](const auto& entry) { return entry->monitor == monitor; }) > 0) {
        announceChange();
    }
}

std::unique_ptr<RegistryIterator> SimRegistry::createIterator(std::string_view plane,
                                                              std::uint32_t options) {
    if (iteratorFails_ || plane != kServicePlane || (options & kIterateRecursively) == 0) {
        return nullptr;
    }
    ++iteratorsCreated_;
    return std::make_unique<SimRegistryIterator>(entries_);
}

std::unique_ptr<AVService> SimRegistry::createAVService(const RegistryEntry& entry) {
    const auto* simEntry = dynamic_cast<const SimRegistryEntry*>(&entry);
    if (!simEntry) {
        return nullptr;
    }
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const auto& each) { return each->id == simEntry->id(); });
    if (found == entries_.end() || (*found)->avServiceFails || !(*found)->monitor) {
        return nullptr;
    }
    return (*found)->monitor->makeService();
}

} // namespace varnu::sim
