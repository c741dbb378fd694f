#include "platform/linux/audio/SinkClassification.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

// PA_DEVICE_PORT_TYPE_*
constexpr std::uint32_t kUnknown = 0; // what servers before 14.0 report
constexpr std::uint32_t kSpeaker = 2;
constexpr std::uint32_t kHeadphones = 3;
constexpr std::uint32_t kSPDIF = 9;
constexpr std::uint32_t kUSB = 14;
constexpr std::uint32_t kCard = 0;

// A sink as the server reports it, and the monitor's name on its card's port.
struct Reported {
    std::optional<SinkPortRecord> port;
    std::string alsaId;
    std::string alsaName;
    std::string portProduct = {};
    bool hardwareVolume = false;
    std::uint32_t card = kCard;
};

struct Case {
    const char* what;
    Reported reported;
    SinkClassification expected;
};

constexpr const char* kDescription = "Output";

SinkClassification classify(const Reported& reported) {
    SinkRecord sink{.index = 3,
                    .name = "alsa_output.pci-0000_00_1f.3",
                    .description = kDescription,
                    .channels = 2,
                    .hardwareVolume = reported.hardwareVolume,
                    .card = reported.card,
                    .activePort = reported.port,
                    .alsaId = reported.alsaId,
                    .alsaName = reported.alsaName};
    std::vector<CardRecord> cards{{7, {{"hdmi-output-1", "Somebody Else"}}}};
    if (reported.port) {
        cards.push_back(
            {kCard, {{"other-port", "Other"}, {reported.port->name, reported.portProduct}}});
    }
    return classifySink(sink, cards);
}

TEST(SinkClassification, OnlyAMonitorsAudioIsDisplayAudioAndItGoesByTheMonitorsName) {
    const SinkClassification display{true, false, "DELL U2720Q"};
    const SinkClassification own{false, true, kDescription};
    const SinkPortRecord hdmi{"hdmi-output-1", kPortTypeHDMI};
    const Case cases[] = {
        {"HDA HDMI, ELD name on its own card's port",
         {hdmi, "HDMI 1", "HDMI 1", "DELL U2720Q"},
         display},
        {"with a mixer of its own",
         {hdmi, "", "", "DELL U2720Q", true},
         {true, true, "DELL U2720Q"}},
        {"ELD bytes left untouched", {hdmi, "", "", "DELL U2720Q\n \t"}, display},
        {"ELD name of spaces only", {hdmi, "", "", "     "}, {true, false, kDescription}},
        {"no card", {hdmi, "", "", "DELL U2720Q", false, kNoCard}, {true, false, kDescription}},
        {"card port without a name, the kernel's in alsa.name",
         {hdmi, "HDMI 1", "DELL U2720Q ", ""},
         display},
        {"card port without a name, a device name in alsa.name",
         {hdmi, "HDMI 1", "HDMI 1", ""},
         {true, false, kDescription}},
        {"port without type from an old server",
         {{{"hdmi-output-0", kUnknown}}, "", "", "DELL U2720Q"},
         display},
        {"UCM's HDMI port",
         {{{"[Out] HDMI2", kUnknown}}, "HDMI2", "HDMI2", "DELL U2720Q"},
         display},
        {"Pro Audio HDMI", {std::nullopt, "HDMI 0", "HDMI 0"}, {true, false, kDescription}},
        {"Pro Audio HDMI, newer kernel", {std::nullopt, "HDMI 1", "DELL U2720Q"}, display},
        {"Pro Audio DisplayPort", {std::nullopt, "DP 2", "DP 2"}, {true, false, kDescription}},
        {"UCM's speaker", {{{"[Out] Speaker", kUnknown}}, "", "", "DELL U2720Q"}, own},
        {"analog", {{{"analog-output-speaker", kSpeaker}}, "ALC257 Analog", "ALC257 Analog"}, own},
        {"headphones", {{{"analog-output-headphones", kHeadphones}}, "", ""}, own},
        {"S/PDIF", {{{"iec958-stereo-output", kSPDIF}}, "ALC1220 Digital", "ALC1220 Digital"}, own},
        {"USB headset", {{{"analog-output", kUSB}}, "USB Audio", "USB Audio"}, own},
        {"a dock's USB audio, Pro Audio", {std::nullopt, "USB Audio", "USB Audio"}, own},
        {"analog, Pro Audio", {std::nullopt, "ALC1220 Analog", "ALC1220 Analog"}, own},
        {"HDMI-like words elsewhere", {std::nullopt, "HDMI Capture USB", "DPX Audio"}, own},
        {"Bluetooth", {{{"headphone-output", kHeadphones}}, "", ""}, own},
        {"a null sink", {std::nullopt, "", ""}, own},
    };
    for (const auto& [what, reported, expected] : cases) {
        EXPECT_EQ(classify(reported), expected) << what;
    }
    // A sink always has a name.
    SinkRecord nameless;
    nameless.name = "varnu_null";
    EXPECT_EQ(classifySink(nameless, {}).name, "varnu_null");
}

} // namespace
} // namespace varnu::linux_backend
