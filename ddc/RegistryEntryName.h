#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnu {

// The registry's name type: a fixed buffer that holds at most 127 bytes and a terminating NUL.
constexpr std::size_t kIONameBufferSize = 128;

// An entry's name as read into the name buffer: cut to what the buffer holds and at the first
// NUL, then decoded as UTF-8 with every invalid sequence replaced by U+FFFD.
std::string registryEntryName(std::string_view rawName);

// The bytes as UTF-8, each maximal invalid subsequence replaced by one U+FFFD.
std::string decodeUTF8Lossy(std::string_view bytes);

} // namespace varnu
