#pragma once

// How the scenario runner writes what Varnu did.

#include "platform/Menu.h"
#include "platform/UserDefaults.h"
#include "platform/ViewTree.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::sim {

// Upper-case hex pairs separated by blanks: "84 03 62 00 32 E8".
std::string hexBytes(std::span<const std::uint8_t> bytes);
std::string hexByte(std::uint32_t value);
// In double quotes, with quotes and backslashes inside escaped.
std::string quoted(std::string_view text);
// The shortest exact form for the values the overlay uses: "75", "49.5".
std::string number(double value);
// An integer or true/false as such, a text in double quotes.
std::string defaultsValue(const DefaultsValue& value);
// A volume key as scenarios name it: "up", "down", "mute".
std::string keyName(std::int64_t keyCode);
// "[x] NAME", "---", "(disabled) TEXT", "TEXT [KEY]".
std::string menuItem(const MenuItem& item);
// One line per node that shows something, indented two blanks per level; stacks and forms are
// not shown themselves, their children are.
std::vector<std::string> viewLines(const ViewNode& root);

} // namespace varnu::sim
