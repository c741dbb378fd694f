#pragma once

#include <string>

namespace varnu {

// An image named by its symbol ("speaker.wave.2.fill"); backends draw their own artwork for it.
struct SymbolImage {
    std::string symbolName;
    std::string accessibilityDescription;
    friend bool operator==(const SymbolImage&, const SymbolImage&) = default;
};

constexpr const char* kApplicationIconSymbol = "varnu.app-icon";

} // namespace varnu
