#include "platform/linux/audio/SinkClassification.h"

#include <algorithm>
#include <string_view>

namespace varnu::linux_backend {

namespace {

constexpr std::string_view kHDMIOutputPortPrefix = "hdmi-output";

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

bool isDisplayAudioPort(const SinkPortRecord& port) {
    return port.type == kPortTypeHDMI || port.name.starts_with(kHDMIOutputPortPrefix);
}

SinkClassification classifySink(const SinkRecord& sink, const std::vector<CardRecord>& cards) {
    SinkClassification result;
    result.displayAudio = sink.activePort && isDisplayAudioPort(*sink.activePort);
    result.nativeVolume = !result.displayAudio || sink.hardwareVolume;
    if (result.displayAudio) {
        result.name = productNameOnCardPort(sink, cards);
    }
    if (result.name.empty()) {
        result.name = sink.description;
    }
    // A sink always has a name; a nameless output would not be listed at all.
    if (result.name.empty()) {
        result.name = sink.name;
    }
    return result;
}

} // namespace varnu::linux_backend
