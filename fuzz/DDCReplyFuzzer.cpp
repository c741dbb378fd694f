// A Get VCP Feature transaction whose reply is the fuzzer's bytes: DDCMonitor::read must never
// read outside what the display sent, and a reading it accepts must be what the reply says.

#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

using namespace varnu;

// Input: the VCP code asked for, a byte whose low bits make the write or the read fail, then
// the reply. A reply shorter than the read leaves the rest of the buffer as the host set it.
class FuzzedService final : public AVService {
public:
    FuzzedService(bool writeFails, bool readFails, std::span<const std::uint8_t> reply)
        : writeFails_(writeFails)
        , readFails_(readFails)
        , reply_(reply) {}

    IOReturn writeI2C(std::uint32_t, std::uint32_t, std::span<const std::uint8_t>) override {
        return writeFails_ ? 5 : kIOReturnSuccess;
    }
    IOReturn readI2C(std::uint32_t, std::uint32_t, std::span<std::uint8_t> buffer) override {
        const auto count = std::min(buffer.size(), reply_.size());
        std::copy_n(reply_.begin(), count, buffer.begin());
        delivered_.assign(buffer.begin(), buffer.end());
        return readFails_ ? 5 : kIOReturnSuccess;
    }

    const std::vector<std::uint8_t>& delivered() const { return delivered_; }

private:
    bool writeFails_;
    bool readFails_;
    std::span<const std::uint8_t> reply_;
    std::vector<std::uint8_t> delivered_;
};

class NoPause final : public Pause {
public:
    void usleep(std::uint32_t) override {}
};

std::int64_t bigEndian(const std::vector<std::uint8_t>& bytes, std::size_t index) {
    return static_cast<std::int64_t>(bytes.at(index)) * 256 + bytes.at(index + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t code = data[0];
    const std::uint8_t failures = data[1];
    auto owned = std::make_unique<FuzzedService>((failures & 1) != 0, (failures & 2) != 0,
                                                 std::span(data + 2, size - 2));
    const FuzzedService& service = *owned;
    DDCMonitor monitor(std::move(owned), "fuzzed", std::make_shared<NoPause>());

    const auto reading = monitor.read(code);
    if (!reading) {
        return 0;
    }
    // Only a delivered, undisturbed reply for the code asked about counts.
    const auto& reply = service.delivered();
    if ((failures & 3) != 0 || reply.size() < kGetVCPFeatureReplySize ||
        reply[kReplyOpcodeIndex] != kGetVCPFeatureReply ||
        reply[kReplyResultIndex] != kVCPResultNoError || reply[kReplyCodeIndex] != code ||
        reading->current != bigEndian(reply, kReplyCurrentHighIndex) ||
        reading->max != bigEndian(reply, kReplyMaximumHighIndex)) {
        std::abort();
    }
    return 0;
}
