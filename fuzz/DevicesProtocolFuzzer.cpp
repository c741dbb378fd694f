// Arbitrary packets on the device service's socket, from either side: a packet is taken only
// when it is exactly one message, which then encodes back to the very same bytes and is never
// longer than the longest message; every other packet is refused, never half read.

#include "platform/linux/devices-link/DevicesProtocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

using namespace varnu::linux_backend::devices;

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
        input = input.subspan(1 + length);
    }
    return 0;
}
