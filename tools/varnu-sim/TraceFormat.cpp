#include "tools/varnu-sim/TraceFormat.h"

#include "app/VolumeKeys.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace varnu::sim {

namespace {

void addViewLines(const ViewNode& node, int depth, std::vector<std::string>& lines) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    int childDepth = depth + 1;
    switch (node.kind) {
    case ViewKind::VStack:
    case ViewKind::HStack:
    case ViewKind::Form:
        childDepth = depth;
        break;
    case ViewKind::Section:
        lines.push_back(indent + "section " + quoted(node.text));
        break;
    case ViewKind::Picker:
        lines.push_back(indent + "picker " + quoted(node.text));
        for (const auto& entry : node.entries) {
            const bool marked = node.selectedTag && *node.selectedTag == entry.tag;
            lines.push_back(indent + "  " + (marked ? "(x) " : "( ) ") + quoted(entry.title));
        }
        break;
    case ViewKind::Toggle:
        lines.push_back(indent + (node.isOn ? "[x] " : "[ ] ") + quoted(node.text));
        break;
    case ViewKind::Label:
        lines.push_back(indent + "label " + node.symbol + " " + quoted(node.text));
        break;
    case ViewKind::Text:
        lines.push_back(indent + "text " + quoted(node.text));
        break;
    case ViewKind::Button:
        lines.push_back(indent + "button " + quoted(node.text));
        break;
    case ViewKind::Image:
        lines.push_back(indent + "image " + node.symbol);
        break;
    case ViewKind::Spacer:
        childDepth = depth;
        break;
    }
    for (const auto& child : node.children) {
        addViewLines(child, childDepth, lines);
    }
}

} // namespace

std::string hexByte(std::uint32_t value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(value & 0xFF));
    return buffer;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const auto byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += hexByte(byte);
    }
    return text;
}

std::string quoted(std::string_view text) {
    std::string result = "\"";
    for (const char c : text) {
        // A trace line stays one line.
        if (c == '\n') {
            result += "\\n";
            continue;
        }
        if (c == '"' || c == '\\') {
            result += '\\';
        }
        result += c;
    }
    result += '"';
    return result;
}

std::string number(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<long long>(value));
    }
    std::ostringstream stream;
    stream.precision(15);
    stream << value;
    return stream.str();
}

std::string defaultsValue(const DefaultsValue& value) {
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*integer);
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        return *flag ? "true" : "false";
    }
    if (const auto* real = std::get_if<double>(&value)) {
        return number(*real);
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        return quoted(*text);
    }
    return "<" + std::get<DefaultsOtherValue>(value).description + ">";
}

std::string keyName(std::int64_t keyCode) {
    switch (keyCode) {
    case kKeyTypeSoundUp:
        return "up";
    case kKeyTypeSoundDown:
        return "down";
    case kKeyTypeMute:
        return "mute";
    default:
        return std::to_string(keyCode);
    }
}

std::string menuItem(const MenuItem& item) {
    if (item.separator) {
        return "---";
    }
    if (item.representedObject) {
        return std::string(item.checked ? "[x] " : "[ ] ") + item.title;
    }
    std::string text = item.enabled ? item.title : "(disabled) " + item.title;
    if (!item.keyEquivalent.empty()) {
        text += " [" + item.keyEquivalent + "]";
    }
    return text;
}

std::vector<std::string> viewLines(const ViewNode& root) {
    std::vector<std::string> lines;
    addViewLines(root, 0, lines);
    return lines;
}

} // namespace varnu::sim
