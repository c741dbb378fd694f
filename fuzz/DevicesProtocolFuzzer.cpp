// Arbitrary packets on the device service's socket, from either side: a packet is taken only
// when it is exactly one message, which then encodes back to the very same bytes and is never
// longer than the longest message, and a key stroke taken is one of the three volume keys with
// the four modifiers; every other packet is refused, never half read.

#include "platform/linux/devices-link/DevicesProtocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

using namespace varnu::linux_backend::devices;

// A stroke names one of the three volume keys, what it did and the four modifiers; nothing
// else can travel in one.
bool isVolumeKeyStroke(const KeyStroke& stroke) {
    constexpr std::uint8_t kModifiers = kShiftHeld | kControlHeld | kAltHeld | kSuperHeld;
    return (stroke.key == VolumeKey::Up || stroke.key == VolumeKey::Down ||
            stroke.key == VolumeKey::Mute) &&
           (stroke.action == KeyAction::Press || stroke.action == KeyAction::Repeat ||
            stroke.action == KeyAction::Release) &&
           (stroke.modifiers & ~kModifiers) == 0;
}

void checkStroke(const std::optional<ServiceMessage>& message) {
    const KeyStroke* stroke = nullptr;
    if (auto* question = message ? std::get_if<Question>(&*message) : nullptr) {
        stroke = &question->stroke;
    } else if (auto* notice = message ? std::get_if<Notice>(&*message) : nullptr) {
        stroke = &notice->stroke;
    }
    if (stroke && !isVolumeKeyStroke(*stroke)) {
        std::abort();
    }
}

template <typename Message>
void checkTaken(const std::optional<Message>& message, std::span<const std::uint8_t> packet) {
    if (!message) {
        return;
    }
    auto again = encode(*message);
    if (packet.size() > kLargestMessage ||
        !std::equal(packet.begin(), packet.end(), again.view().begin(), again.view().end())) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each packet is a length byte and that many bytes (fewer at the end of the input).
    std::span<const std::uint8_t> input(data, size);
    while (!input.empty()) {
        auto length = std::min<std::size_t>(input[0], input.size() - 1);
        auto packet = input.subspan(1, length);
        auto fromClient = parseClientMessage(packet);
        auto fromService = parseServiceMessage(packet);
        // No packet is a word of both sides.
        if (fromClient && fromService) {
            std::abort();
        }
        checkTaken(fromClient, packet);
        checkTaken(fromService, packet);
        checkStroke(fromService);
        input = input.subspan(1 + length);
    }
    return 0;
}
