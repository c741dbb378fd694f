#include "tools/varnu-sim/ScenarioArguments.h"

#include "app/VolumeKeys.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace varnu::sim {

namespace {

std::uint16_t vcpValue(const std::string& text) {
    auto value = parseInteger(text);
    if (!value || *value < 0 || *value > 0xFFFF) {
        fail("monitor: \"" + text + "\" is not a 16-bit value");
    }
    return static_cast<std::uint16_t>(*value);
}

} // namespace

[[noreturn]] void fail(std::string message) {
    throw CommandError{std::move(message)};
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseReal(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used != text.size() || !std::isfinite(value)) {
            return std::nullopt;
        }
        return value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void CommandArguments::expectCount(std::size_t minimum, std::size_t maximum) const {
    if (size() < minimum || size() > maximum) {
        fail(command_.name + ": wrong number of arguments");
    }
}

std::int64_t CommandArguments::integer(std::size_t index) const {
    if (auto value = parseInteger(word(index))) {
        return *value;
    }
    fail(command_.name + ": \"" + word(index) + "\" is not an integer");
}

double CommandArguments::real(std::size_t index) const {
    if (auto value = parseReal(word(index))) {
        return *value;
    }
    fail(command_.name + ": \"" + word(index) + "\" is not a number");
}

bool CommandArguments::choice(std::size_t index, const std::string& yes,
                              const std::string& no) const {
    if (word(index) == yes) {
        return true;
    }
    if (word(index) == no) {
        return false;
    }
    fail(command_.name + ": expected " + yes + " or " + no);
}

MonitorOptions CommandArguments::monitorOptions() const {
    MonitorOptions options;
    for (std::size_t i = 1; i < size(); ++i) {
        const auto& option = word(i);
        const auto equals = option.find('=');
        const std::string name = option.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : option.substr(equals + 1);
        if (option == "internal") {
            options.internal = true;
        } else if (option == "no-osd") {
            options.noOSD = true;
        } else if (option == "refuse-writes") {
            options.refuseWrites = true;
        } else if (option == "refuse-reads") {
            options.refuseReads = true;
        } else if (option == "corrupt-replies") {
            options.corruptReplies = true;
        } else if (name == "volume" && equals != std::string::npos) {
            options.volume = vcpValue(value);
        } else if (name == "max" && equals != std::string::npos) {
            options.maximum = vcpValue(value);
        } else if (name == "mute" && equals != std::string::npos) {
            options.mute = vcpValue(value);
        } else if (name == "osd" && equals != std::string::npos) {
            options.osd = vcpValue(value);
        } else if (name == "id" && !value.empty()) {
            options.edidUUID = value;
        } else {
            fail("monitor: unknown option \"" + option + "\"");
        }
    }
    return options;
}

HeldPress CommandArguments::keyPress() const {
    HeldPress held;
    if (word(0) == "up") {
        held.press.keyCode = kKeyTypeSoundUp;
    } else if (word(0) == "down") {
        held.press.keyCode = kKeyTypeSoundDown;
    } else if (word(0) == "mute") {
        held.press.keyCode = kKeyTypeMute;
    } else {
        fail("key: expected up, down or mute");
    }
    for (std::size_t i = 1; i < size(); ++i) {
        const auto& modifier = word(i);
        if (modifier == "shift") {
            held.press.shift = true;
        } else if (modifier == "option") {
            held.press.option = true;
        } else if (modifier == "control") {
            held.press.control = true;
        } else if (modifier == "release") {
            held.press.release = true;
        } else if (modifier.starts_with("times=")) {
            const auto value = parseInteger(modifier.substr(6));
            if (!value || *value < 1) {
                fail("key: bad number of times");
            }
            held.times = *value;
        } else if (modifier.starts_with("every=")) {
            const auto value = parseReal(modifier.substr(6));
            if (!value || *value <= 0 || *value > kLongestWaitSeconds) {
                fail("key: bad interval");
            }
            held.every = std::chrono::milliseconds(std::llround(*value * 1000));
        } else {
            fail("key: unknown modifier \"" + modifier + "\"");
        }
    }
    return held;
}

} // namespace varnu::sim
