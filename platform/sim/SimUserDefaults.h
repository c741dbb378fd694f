#pragma once

// An in-memory user-defaults store.
// Implements: UserDefaults with typed values; values put in place by a test or the scenario
// (of any type, including reals and "other" values) that do not count as application writes;
// a report of every application write.
// Does not: persist anything, or convert a stored number to text when a text is asked for.

#include "platform/UserDefaults.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace varnu::sim {

class SimUserDefaults final : public UserDefaults {
public:
    using WriteObserver = std::function<void(std::string_view key, const DefaultsValue& value)>;

    std::optional<DefaultsValue> object(std::string_view key) override;
    std::optional<std::string> string(std::string_view key) override;
    void setInteger(std::string_view key, std::int64_t value) override;
    void setBool(std::string_view key, bool value) override;
    void setString(std::string_view key, std::string_view value) override;

    // The world's side: stores or removes a value without reporting it as a write.
    void put(std::string_view key, DefaultsValue value);
    void remove(std::string_view key);

    bool contains(std::string_view key) const { return values_.contains(key); }
    const std::map<std::string, DefaultsValue, std::less<>>& values() const { return values_; }

    // Called after each setInteger, setBool and setString, with the key and the stored value.
    void setWriteObserver(WriteObserver observer) { writeObserver_ = std::move(observer); }

private:
    void write(std::string_view key, DefaultsValue value);

    std::map<std::string, DefaultsValue, std::less<>> values_;
    WriteObserver writeObserver_;
};

} // namespace varnu::sim
