#include "platform/linux/SinkClassification.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

constexpr std::uint32_t kPortTypeSpeaker = 2; // PA_DEVICE_PORT_TYPE_SPEAKER
constexpr std::uint32_t kPortTypeUnknown = 0; // what servers before 14.0 report

SinkRecord hdmiSink(bool hardwareVolume) {
    SinkRecord sink;
    sink.index = 3;
    sink.name = "alsa_output.pci-0000_00_1f.3.hdmi-stereo-extra1";
    sink.description = "Built-in Audio Digital Stereo (HDMI 2)";
    sink.channels = 2;
    sink.hardwareVolume = hardwareVolume;
    sink.card = 0;
    sink.activePort = SinkPortRecord{"hdmi-output-1", kPortTypeHDMI};
    return sink;
}

std::vector<CardRecord> cardsWithMonitor(std::uint32_t card, const std::string& product) {
    return {CardRecord{7, {{"hdmi-output-1", "Somebody Else"}}},
            CardRecord{card,
                       {{"analog-output-speaker", ""},
                        {"hdmi-output-0", "Other Port"},
                        {"hdmi-output-1", product}}}};
}

TEST(SinkClassification, DisplayAudioWithoutHardwareVolumeIsTheMonitorsAmplifierByProductName) {
    const auto shown = classifySink(hdmiSink(false), cardsWithMonitor(0, "DELL U2720Q"));
    EXPECT_TRUE(shown.displayAudio);
    EXPECT_FALSE(shown.nativeVolume);
    EXPECT_EQ(shown.name, "DELL U2720Q") << "from its own card's active port, not another's";

    // With a hardware volume control of its own the output keeps the native volume, and is
    // still known by the monitor's name.
    const auto withMixer = classifySink(hdmiSink(true), cardsWithMonitor(0, "DELL U2720Q"));
    EXPECT_TRUE(withMixer.displayAudio);
    EXPECT_TRUE(withMixer.nativeVolume);
    EXPECT_EQ(withMixer.name, "DELL U2720Q");

    // No ELD (monitor without audio name, or the card record is not there): the description.
    EXPECT_EQ(classifySink(hdmiSink(false), cardsWithMonitor(0, "")).name,
              "Built-in Audio Digital Stereo (HDMI 2)");
    EXPECT_EQ(classifySink(hdmiSink(false), {}).name, "Built-in Audio Digital Stereo (HDMI 2)");
    EXPECT_FALSE(classifySink(hdmiSink(false), {}).nativeVolume);
    auto cardless = hdmiSink(false);
    cardless.card = kNoCard;
    EXPECT_EQ(classifySink(cardless, cardsWithMonitor(0, "DELL U2720Q")).name,
              "Built-in Audio Digital Stereo (HDMI 2)");
}

TEST(SinkClassification, RecognisesDisplayPortsByTypeOrByName) {
    auto untyped = hdmiSink(false);
    untyped.activePort->type = kPortTypeUnknown;
    EXPECT_TRUE(classifySink(untyped, {}).displayAudio) << "named hdmi-output…";

    auto typedOnly = hdmiSink(false);
    typedOnly.activePort->name = "[Out] HDMI1";
    EXPECT_TRUE(classifySink(typedOnly, {}).displayAudio) << "typed HDMI (DisplayPort too)";

    auto speaker = hdmiSink(false);
    speaker.activePort = SinkPortRecord{"analog-output-speaker", kPortTypeSpeaker};
    speaker.description = "Built-in Audio Analog Stereo";
    const auto shown = classifySink(speaker, cardsWithMonitor(0, "DELL U2720Q"));
    EXPECT_FALSE(shown.displayAudio);
    EXPECT_TRUE(shown.nativeVolume) << "software volume is the right control for speakers";
    EXPECT_EQ(shown.name, "Built-in Audio Analog Stereo");

    // The sink's inactive HDMI ports do not count; only the active one does.
    speaker.activePort.reset();
    EXPECT_FALSE(classifySink(speaker, {}).displayAudio);
}

TEST(SinkClassification, SinksWithoutPortsAreKnownByDescriptionElseByName) {
    SinkRecord nullSink;
    nullSink.name = "varnu_null";
    nullSink.description = "Null Output";
    nullSink.channels = 2;
    const auto shown = classifySink(nullSink, {});
    EXPECT_FALSE(shown.displayAudio);
    EXPECT_TRUE(shown.nativeVolume);
    EXPECT_EQ(shown.name, "Null Output");

    nullSink.description.clear();
    EXPECT_EQ(classifySink(nullSink, {}).name, "varnu_null");
}

} // namespace
} // namespace varnu::linux_backend
