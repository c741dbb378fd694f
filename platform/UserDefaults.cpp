#include "platform/UserDefaults.h"

#include <cmath>
#include <limits>

namespace varnu {

std::optional<std::int64_t> integerValue(const DefaultsValue& value) {
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        return *integer;
    }
    if (const auto* real = std::get_if<double>(&value)) {
        // 2^63 is exactly representable; anything at or above it does not fit.
        constexpr double kTwoTo63 = 9223372036854775808.0;
        if (std::isfinite(*real) && std::trunc(*real) == *real && *real >= -kTwoTo63 &&
            *real < kTwoTo63) {
            return static_cast<std::int64_t>(*real);
        }
    }
    return std::nullopt;
}

std::optional<bool> boolValue(const DefaultsValue& value) {
    if (const auto* flag = std::get_if<bool>(&value)) {
        return *flag;
    }
    return std::nullopt;
}

} // namespace varnu
