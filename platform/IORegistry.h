#pragma once

// The display registry of registry-shaped platforms: a walk over entries in registry order,
// each with a name and typed properties, and the AV service that carries a display's I2C bus.

#include "platform/AVService.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace varnu {

struct RegistryField;

// A dictionary with text keys, in the order the registry gives them.
using RegistryDictionary = std::vector<RegistryField>;

// Any property value that is neither text nor a dictionary with text keys.
struct RegistryOtherValue {
    std::string description;
};

struct RegistryValue {
    std::variant<std::string, RegistryDictionary, RegistryOtherValue> value;

    const std::string* text() const { return std::get_if<std::string>(&value); }
    const RegistryDictionary* dictionary() const { return std::get_if<RegistryDictionary>(&value); }
};

struct RegistryField {
    std::string key;
    RegistryValue value;
};

inline const RegistryValue* findField(const RegistryDictionary& dictionary, std::string_view key) {
    for (const auto& field : dictionary) {
        if (field.key == key) {
            return &field.value;
        }
    }
    return nullptr;
}

class RegistryEntry {
public:
    virtual ~RegistryEntry() = default;
    // The entry's name as the registry hands it out: raw bytes, possibly longer than the
    // 128-byte name buffer and not necessarily valid UTF-8.
    virtual std::string rawName() const = 0;
    // A copy of the property, or nothing when the entry has none under that key.
    virtual std::optional<RegistryValue> property(std::string_view key) const = 0;
};

class RegistryIterator {
public:
    virtual ~RegistryIterator() = default;
    // The next entry in registry order, or null at the end.
    virtual std::unique_ptr<RegistryEntry> next() = 0;
};

constexpr std::uint32_t kIORegistryIterateRecursively = 1;
constexpr std::string_view kIOServicePlane = "IOService";

class IORegistry {
public:
    virtual ~IORegistry() = default;
    // Null when the walk cannot start.
    virtual std::unique_ptr<RegistryIterator> createIterator(std::string_view plane,
                                                             std::uint32_t options) = 0;
    // Null when the entry has no usable AV service.
    virtual std::unique_ptr<AVService> createAVService(const RegistryEntry& entry) = 0;
    // Called on the main queue when displays come or go, so that what was built from a walk can
    // be built again.
    virtual void setChangeHandler(std::function<void()> /*handler*/) {}
};

} // namespace varnu
