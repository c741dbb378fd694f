#pragma once

// The user-defaults store: typed values under text keys.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace varnu {

// A stored value of a type the store knows but the application never writes (a date, a list).
struct DefaultsOtherValue {
    std::string description;
    friend bool operator==(const DefaultsOtherValue&, const DefaultsOtherValue&) = default;
};

using DefaultsValue = std::variant<std::int64_t, bool, double, std::string, DefaultsOtherValue>;

// A stored object converts to an integer when it is an integer, or a real with no fraction
// that fits; never from a Boolean or a text.
std::optional<std::int64_t> integerValue(const DefaultsValue& value);
// A stored object converts to a Boolean only when it is one.
std::optional<bool> boolValue(const DefaultsValue& value);

class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    // The stored value of any type, or nothing.
    virtual std::optional<DefaultsValue> object(std::string_view key) = 0;
    // The stored text, or nothing when none is stored or the value is not a text.
    virtual std::optional<std::string> string(std::string_view key) = 0;
    virtual void setInteger(std::string_view key, std::int64_t value) = 0;
    virtual void setBool(std::string_view key, bool value) = 0;
    virtual void setString(std::string_view key, std::string_view value) = 0;
};

} // namespace varnu
