#include "platform/sim/SimUserDefaults.h"

#include <utility>

namespace varnu::sim {

std::optional<DefaultsValue> SimUserDefaults::object(std::string_view key) {
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<std::string> SimUserDefaults::string(std::string_view key) {
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    if (const auto* text = std::get_if<std::string>(&it->second)) {
        return *text;
    }
    return std::nullopt;
}

void SimUserDefaults::setInteger(std::string_view key, std::int64_t value) {
    write(key, value);
}

void SimUserDefaults::setBool(std::string_view key, bool value) {
    write(key, value);
}

void SimUserDefaults::setString(std::string_view key, std::string_view value) {
    write(key, std::string(value));
}

void SimUserDefaults::put(std::string_view key, DefaultsValue value) {
    values_.insert_or_assign(std::string(key), std::move(value));
}

void SimUserDefaults::remove(std::string_view key) {
    if (auto it = values_.find(key); it != values_.end()) {
        values_.erase(it);
    }
}

void SimUserDefaults::write(std::string_view key, DefaultsValue value) {
    auto it = values_.insert_or_assign(std::string(key), std::move(value)).first;
    if (writeObserver_) {
        // A copy: the observer may write to the store while it runs.
        auto stored = it->second;
        writeObserver_(key, stored);
    }
}

} // namespace varnu::sim
