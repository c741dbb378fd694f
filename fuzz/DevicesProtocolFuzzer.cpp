// Arbitrary packets on the device service's socket, from either side: a packet is taken only
// when it is exactly one message, which then encodes back to the very same bytes and is never
// longer than the longest message, a key stroke taken is one of the three volume keys with
// the four modifiers, and a display's text and DDC/CI bytes fit their fields; every other
// packet is refused, never half read.

#include "platform/linux/devices-link/DevicesProtocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

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

bool fits(const std::string& text, std::size_t field) {
    return text.size() <= field && text.find('\0') == std::string::npos;
}

void checkDisplays(const std::optional<ClientMessage>& fromClient,
                   const std::optional<ServiceMessage>& fromService) {
    const auto* write = fromClient ? std::get_if<DdcWrite>(&*fromClient) : nullptr;
    const auto* read = fromClient ? std::get_if<DdcRead>(&*fromClient) : nullptr;
    const auto* entry = fromService ? std::get_if<DisplayEntry>(&*fromService) : nullptr;
    const auto* result = fromService ? std::get_if<DdcResult>(&*fromService) : nullptr;
    if ((write && write->bytes.size() > kDdcBytesField) ||
        (read && read->length > kDdcBytesField) ||
        (entry &&
         (!fits(entry->productName, kProductNameField) || !fits(entry->identity, kIdentityField) ||
          (entry->index >= entry->count && entry->index != 0))) ||
        (result && (result->bytes.size() > kDdcBytesField || result->status > kLargestStatus))) {
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
        checkDisplays(fromClient, fromService);
        input = input.subspan(1 + length);
    }
    return 0;
}
