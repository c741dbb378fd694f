#include "platform/linux/audio/SinkClassification.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

constexpr std::uint32_t kPortTypeSpeaker = 2; // PA_DEVICE_PORT_TYPE_SPEAKER
constexpr std::uint32_t kPortTypeUnknown = 0; // what servers before 14.0 report
constexpr const char* kDescription = "Built-in Audio Digital Stereo (HDMI 2)";

SinkRecord hdmiSink(bool hardwareVolume = false) {
    return {.index = 3,
            .name = "alsa_output.pci-0000_00_1f.3.hdmi-stereo-extra1",
            .description = kDescription,
            .channels = 2,
            .hardwareVolume = hardwareVolume,
            .card = 0,
            .activePort = SinkPortRecord{"hdmi-output-1", kPortTypeHDMI}};
}

std::vector<CardRecord> cardsWithMonitor(const std::string& product) {
    return {CardRecord{7, {{"hdmi-output-1", "Somebody Else"}}},
            CardRecord{0, {{"hdmi-output-0", "Other Port"}, {"hdmi-output-1", product}}}};
}

TEST(SinkClassification, DisplayAudioIsKnownByTheMonitorsNameAndLacksNativeVolumeWithoutAMixer) {
    const auto shown = classifySink(hdmiSink(), cardsWithMonitor("DELL U2720Q"));
    EXPECT_TRUE(shown.displayAudio);
    EXPECT_FALSE(shown.nativeVolume);
    EXPECT_EQ(shown.name, "DELL U2720Q") << "from its own card's active port, not another's";
    const auto withMixer = classifySink(hdmiSink(true), cardsWithMonitor("DELL U2720Q"));
    EXPECT_TRUE(withMixer.displayAudio);
    EXPECT_TRUE(withMixer.nativeVolume);
    EXPECT_EQ(withMixer.name, "DELL U2720Q");

    // No ELD (monitor without audio name, or the card record is not there): the description.
    EXPECT_EQ(classifySink(hdmiSink(), cardsWithMonitor("")).name, kDescription);
    EXPECT_EQ(classifySink(hdmiSink(), {}).name, kDescription);
    EXPECT_FALSE(classifySink(hdmiSink(), {}).nativeVolume);
    auto cardless = hdmiSink();
    cardless.card = kNoCard;
    EXPECT_EQ(classifySink(cardless, cardsWithMonitor("DELL U2720Q")).name, kDescription);
}

TEST(SinkClassification, RecognisesDisplayPortsByTypeOrNameAndOtherSinksKeepTheirVolume) {
    auto untyped = hdmiSink();
    untyped.activePort->type = kPortTypeUnknown;
    EXPECT_TRUE(classifySink(untyped, {}).displayAudio) << "named hdmi-output…";
    auto typedOnly = hdmiSink();
    typedOnly.activePort->name = "[Out] HDMI1";
    EXPECT_TRUE(classifySink(typedOnly, {}).displayAudio) << "typed HDMI (DisplayPort too)";

    auto speaker = hdmiSink();
    speaker.activePort = SinkPortRecord{"analog-output-speaker", kPortTypeSpeaker};
    speaker.description = "Built-in Audio Analog Stereo";
    const auto shown = classifySink(speaker, cardsWithMonitor("DELL U2720Q"));
    EXPECT_FALSE(shown.displayAudio);
    EXPECT_TRUE(shown.nativeVolume) << "software volume is the right control for speakers";
    EXPECT_EQ(shown.name, "Built-in Audio Analog Stereo");

    // Without ports (a null sink): the description, else the sink's name.
    SinkRecord nullSink;
    nullSink.name = "varnu_null";
    nullSink.description = "Null Output";
    EXPECT_FALSE(classifySink(nullSink, {}).displayAudio);
    EXPECT_TRUE(classifySink(nullSink, {}).nativeVolume);
    EXPECT_EQ(classifySink(nullSink, {}).name, "Null Output");
    nullSink.description.clear();
    EXPECT_EQ(classifySink(nullSink, {}).name, "varnu_null");
}

} // namespace
} // namespace varnu::linux_backend
