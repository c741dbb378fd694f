// Sinks and cards with whatever names, descriptions, port types, ALSA properties and card links
// the audio server reports: classification never fails, follows its rules, gives names without
// trailing white space, and the name it gives goes through the monitor-matching comparison with
// any display name.

#include "app/NameMatching.h"
#include "platform/linux/audio/SinkClassification.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace {

using namespace varnu;
using namespace varnu::linux_backend;

constexpr std::size_t kMostRecords = 8;
constexpr std::size_t kLongestText = 64;

// Small numbers, so that card links and port types meet the values that mean something.
std::uint32_t smallOrAny(FuzzedDataProvider& input) {
    return input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint32_t>(0, 12)
                               : input.ConsumeIntegral<std::uint32_t>();
}

std::string text(FuzzedDataProvider& input) {
    return input.ConsumeRandomLengthString(kLongestText);
}

SinkRecord sinkRecord(FuzzedDataProvider& input) {
    SinkRecord sink;
    sink.index = smallOrAny(input);
    sink.name = text(input);
    sink.description = text(input);
    sink.channels = smallOrAny(input);
    sink.hardwareVolume = input.ConsumeBool();
    sink.card = input.ConsumeBool() ? kNoCard : smallOrAny(input);
    if (input.ConsumeBool()) {
        sink.activePort = SinkPortRecord{text(input), smallOrAny(input)};
    }
    sink.alsaId = text(input);
    sink.alsaName = text(input);
    return sink;
}

CardRecord cardRecord(FuzzedDataProvider& input) {
    CardRecord card;
    card.index = smallOrAny(input);
    const auto ports = input.ConsumeIntegralInRange<std::size_t>(0, kMostRecords);
    for (std::size_t i = 0; i < ports; ++i) {
        card.ports.push_back(CardPortRecord{text(input), text(input)});
    }
    return card;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<CardRecord> cards(input.ConsumeIntegralInRange<std::size_t>(0, kMostRecords));
    for (auto& card : cards) {
        card = cardRecord(input);
    }
    std::vector<SinkRecord> sinks(input.ConsumeIntegralInRange<std::size_t>(0, kMostRecords));
    for (auto& sink : sinks) {
        sink = sinkRecord(input);
    }
    const std::string displayName = text(input);

    for (const auto& sink : sinks) {
        const auto shown = classifySink(sink, cards);
        const bool displayAudio = isDisplayAudio(sink);
        const auto description = trimmedName(sink.description);
        if (shown.displayAudio != displayAudio ||
            shown.nativeVolume != (!displayAudio || sink.hardwareVolume) ||
            (shown.name.empty() && !(description.empty() && sink.name.empty())) ||
            (shown.name != trimmedName(shown.name) && shown.name != sink.name) ||
            (!displayAudio && !description.empty() && shown.name != description)) {
            std::abort();
        }
        // Every text contains itself and the empty text, whatever bytes it holds.
        if (!containsIgnoringCase(shown.name, shown.name) ||
            !containsIgnoringCase(shown.name, "")) {
            std::abort();
        }
        containsIgnoringCase(shown.name, displayName);
        containsIgnoringCase(displayName, shown.name);
    }
    return 0;
}
