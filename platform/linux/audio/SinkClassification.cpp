#include "platform/linux/audio/SinkClassification.h"

#include <algorithm>
#include <array>

namespace varnu::linux_backend {

namespace {

constexpr std::string_view kHDMIOutputPortPrefix = "hdmi-output";
constexpr std::string_view kUCMHDMIPortPrefix = "[Out] HDMI";
// How ALSA names the PCM devices of HDMI and DisplayPort outputs.
constexpr std::array<std::string_view, 3> kDisplayDevicePrefixes{"HDMI", "DisplayPort", "DP"};

// "HDMI", "HDMI 0", "HDMI1", "DP-2": a prefix, then nothing, or a number.
bool namesDisplayDevice(std::string_view name) {
    for (const auto prefix : kDisplayDevicePrefixes) {
        if (!name.starts_with(prefix)) {
            continue;
        }
        auto rest = name.substr(prefix.size());
        if (!rest.empty() && (rest.front() == ' ' || rest.front() == '-')) {
            rest.remove_prefix(1);
        }
        if (std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return true;
        }
    }
    return false;
}

std::string productNameOnCardPort(const SinkRecord& sink, const std::vector<CardRecord>& cards) {
    if (sink.card == kNoCard || !sink.activePort) {
        return {};
    }
    const auto card = std::find_if(cards.begin(), cards.end(),
                                   [&](const CardRecord& c) { return c.index == sink.card; });
    if (card == cards.end()) {
        return {};
    }
    const auto port = std::find_if(card->ports.begin(), card->ports.end(),
                                   [&](const auto& p) { return p.name == sink.activePort->name; });
    return port == card->ports.end() ? std::string() : port->productName;
}

} // namespace

std::string trimmedName(std::string_view name) {
    constexpr unsigned char kDelete = 0x7F;
    while (!name.empty() && (static_cast<unsigned char>(name.back()) <= ' ' ||
                             static_cast<unsigned char>(name.back()) == kDelete)) {
        name.remove_suffix(1);
    }
    return std::string(name);
}

bool isDisplayAudio(const SinkRecord& sink) {
    if (!sink.activePort) {
        return namesDisplayDevice(trimmedName(sink.alsaId)) ||
               namesDisplayDevice(trimmedName(sink.alsaName));
    }
    const auto& port = *sink.activePort;
    return port.type == kPortTypeHDMI || port.name.starts_with(kHDMIOutputPortPrefix) ||
           port.name.starts_with(kUCMHDMIPortPrefix);
}

SinkClassification classifySink(const SinkRecord& sink, const std::vector<CardRecord>& cards) {
    SinkClassification result;
    result.displayAudio = isDisplayAudio(sink);
    result.nativeVolume = !result.displayAudio || sink.hardwareVolume;
    if (result.displayAudio) {
        result.name = trimmedName(productNameOnCardPort(sink, cards));
        if (const auto alsaName = trimmedName(sink.alsaName);
            result.name.empty() && !namesDisplayDevice(alsaName)) {
            result.name = alsaName;
        }
    }
    if (result.name.empty()) {
        result.name = trimmedName(sink.description);
    }
    // A sink always has a name; a nameless output would not be listed at all.
    if (result.name.empty()) {
        result.name = sink.name;
    }
    return result;
}

} // namespace varnu::linux_backend
