#pragma once

// How an audio-server sink appears to the core, decided from plain records so that it does not
// depend on a live server.
// Implements: the display-audio test, the name a person knows the output by, and whether the
// output has a volume control of its own that is the right one to use.
// Does not implement: reading the records from the server (PulseAudioHardware does that).
//
// Native volume. Every sink can be attenuated in software, so "native volume" cannot mean "the
// server can change the volume". It means the output has a volume control of its own that is
// the right one to use. The exception is a display-audio output without a hardware volume
// control (no PA_SINK_HW_VOLUME_CTRL): that is a monitor's own amplifier, reachable only over
// DDC/CI, and attenuating the digital signal instead would only lower the ceiling of the
// monitor's own level. Such a sink has no native volume; every other sink has one.
//
// Display audio. A sink whose active port is of HDMI type (DisplayPort ports report it too), or
// is named "hdmi-output…" (ALSA card profiles) or "[Out] HDMI…" (UCM, which names every HDMI
// and DisplayPort device "HDMI" or "HDMIn" and no other device so; servers before PulseAudio 14
// send no type for its ports); and a sink without any port (PipeWire's Pro Audio profile) whose
// ALSA device is an HDMI or DisplayPort one, as its ALSA id or name tells ("HDMI 0", "HDMI1",
// "DP 2"). No other sink: analog, USB, Bluetooth and S/PDIF outputs, and a dock's own USB
// audio, keep their volume.
//
// Name. For a display-audio output the server puts the monitor's product name, read from the
// ELD, on the card port as "device.product.name"; that is the name the monitor-matching rule
// compares with the display's EDID name. Where the card port carries none, newer kernels name
// the ALSA device after the monitor ("alsa.name"), which then serves. Every other sink, and a
// display-audio output whose monitor gives no name, is known by its description. The server
// hands the ELD's bytes on untouched (some drivers leave its line feed and padding in), so
// trailing white space and control characters are no part of any name.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::linux_backend {

// PA_DEVICE_PORT_TYPE_HDMI; DisplayPort outputs report it as well.
constexpr std::uint32_t kPortTypeHDMI = 10;
// PA_INVALID_INDEX: a sink that belongs to no card.
constexpr std::uint32_t kNoCard = 0xFFFFFFFFu;

struct SinkPortRecord {
    std::string name;
    std::uint32_t type = 0; // PA_DEVICE_PORT_TYPE_*

    friend bool operator==(const SinkPortRecord&, const SinkPortRecord&) = default;
};

struct SinkRecord {
    std::uint32_t index = 0;
    std::string name;
    std::string description;
    std::uint32_t channels = 0;
    bool hardwareVolume = false; // PA_SINK_HW_VOLUME_CTRL
    std::uint32_t card = kNoCard;
    std::optional<SinkPortRecord> activePort;
    std::string alsaId;   // "alsa.id", e.g. "HDMI 0"; empty when absent
    std::string alsaName; // "alsa.name", the device's name, or on newer kernels the monitor's

    friend bool operator==(const SinkRecord&, const SinkRecord&) = default;
};

struct CardPortRecord {
    std::string name;
    std::string productName; // "device.product.name" of the port, empty when absent

    friend bool operator==(const CardPortRecord&, const CardPortRecord&) = default;
};

struct CardRecord {
    std::uint32_t index = 0;
    std::vector<CardPortRecord> ports;

    friend bool operator==(const CardRecord&, const CardRecord&) = default;
};

struct SinkClassification {
    bool displayAudio = false;
    bool nativeVolume = true;
    std::string name;

    friend bool operator==(const SinkClassification&, const SinkClassification&) = default;
};

bool isDisplayAudio(const SinkRecord& sink);

// The name as the server gives it, without trailing white space and control characters.
std::string trimmedName(std::string_view name);

SinkClassification classifySink(const SinkRecord& sink, const std::vector<CardRecord>& cards);

} // namespace varnu::linux_backend
