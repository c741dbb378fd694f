#include "platform/sim/SimMonitor.h"

#include <algorithm>
#include <array>

namespace varnu::sim {

namespace {

// The display keeps its own copy of the protocol, so that it cannot share a mistake with the
// host side it is there to check.
constexpr std::uint32_t kChipAddress = 0x37;
constexpr std::uint8_t kDisplayAddress = 0x6E;
constexpr std::uint8_t kHostSourceAddress = 0x51;
constexpr std::uint8_t kVirtualHostAddress = 0x50;

constexpr std::uint8_t kLengthFlag = 0x80;
constexpr std::uint8_t kLengthMask = 0x7F;
constexpr std::uint8_t kOpGetVCPFeature = 0x01;
constexpr std::uint8_t kOpGetVCPFeatureReply = 0x02;
constexpr std::uint8_t kOpSetVCPFeature = 0x03;
constexpr std::size_t kGetVCPFeaturePayload = 2;
constexpr std::size_t kSetVCPFeaturePayload = 4;
constexpr std::size_t kGetVCPFeatureReplyPayload = 8;
// Length byte and checksum around the payload.
constexpr std::size_t kFraming = 2;

constexpr std::uint8_t kResultNoError = 0x00;
constexpr std::uint8_t kResultUnsupported = 0x01;

constexpr std::uint8_t kVolume = 0x62;
constexpr std::uint8_t kMute = 0x8D;
constexpr std::uint8_t kOSD = 0xCA;

std::uint8_t xorAll(std::uint8_t seed, std::span<const std::uint8_t> bytes) {
    for (const auto byte : bytes) {
        seed ^= byte;
    }
    return seed;
}

std::uint8_t high(std::uint16_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t low(std::uint16_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

// Display → host: the checksum starts from the virtual host address.
std::vector<std::uint8_t> sealedReply(std::vector<std::uint8_t> bytes) {
    bytes.push_back(xorAll(kVirtualHostAddress, bytes));
    return bytes;
}

std::vector<std::uint8_t> nullMessage() {
    return sealedReply({kDisplayAddress, kLengthFlag});
}

class SimMonitorService final : public AVService {
public:
    explicit SimMonitorService(std::shared_ptr<SimMonitor> monitor)
        : monitor_(std::move(monitor)) {}

    IOReturn writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                      std::span<const std::uint8_t> bytes) override {
        return monitor_->writeI2C(chipAddress, dataAddress, bytes);
    }
    IOReturn readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                     std::span<std::uint8_t> buffer) override {
        return monitor_->readI2C(chipAddress, dataAddress, buffer);
    }

private:
    std::shared_ptr<SimMonitor> monitor_;
};

} // namespace

bool SimMonitor::Countdown::take() {
    if (remaining == 0) {
        return false;
    }
    if (remaining != kAlways) {
        --remaining;
    }
    return true;
}

SimMonitor::SimMonitor(Clock clock)
    : clock_(std::move(clock)) {
    controls_[kVolume] = VCPControl{50, 100, kVCPTypeSetParameter};
    controls_[kMute] = VCPControl{2, 2, kVCPTypeSetParameter};
    controls_[kOSD] = VCPControl{2, 2, kVCPTypeSetParameter};
}

std::shared_ptr<SimMonitor> SimMonitor::create(Clock clock) {
    return std::shared_ptr<SimMonitor>(new SimMonitor(std::move(clock)));
}

std::shared_ptr<SimMonitor> SimMonitor::create(const std::shared_ptr<SimScheduler>& scheduler) {
    // Weak, so that a monitor held by work queued on the scheduler does not keep it alive.
    std::weak_ptr<SimScheduler> weak = scheduler;
    return create([weak]() -> std::int64_t {
        auto strong = weak.lock();
        return strong ? strong->nowMilliseconds() : 0;
    });
}

std::unique_ptr<AVService> SimMonitor::makeService() {
    return std::make_unique<SimMonitorService>(shared_from_this());
}

IOReturn SimMonitor::writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                              std::span<const std::uint8_t> bytes) {
    I2CTransaction transaction;
    Observer observer;
    {
        std::lock_guard lock(mutex_);
        IOReturn status = kIOReturnSuccess;
        // Nobody acknowledges another chip address; a refused transfer never reaches the
        // display.
        if (!connected_ || chipAddress != kChipAddress || refusedWrites_.take()) {
            status = kIOReturnNotResponding;
        } else {
            receive(dataAddress, bytes);
        }
        record(I2CDirection::Write, chipAddress, dataAddress, {bytes.begin(), bytes.end()}, status);
        transaction = transactions_.back();
        observer = observer_;
    }
    if (observer) {
        observer(transaction);
    }
    return transaction.status;
}

IOReturn SimMonitor::readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                             std::span<std::uint8_t> buffer) {
    I2CTransaction transaction;
    Observer observer;
    {
        std::lock_guard lock(mutex_);
        IOReturn status = kIOReturnSuccess;
        std::vector<std::uint8_t> handedBack;
        if (!connected_ || chipAddress != kChipAddress || refusedReads_.take()) {
            status = kIOReturnNotResponding;
        } else {
            // With nothing to say, or asked on behalf of another source address, the display
            // sends the Null Message; the rest of the transfer reads as zeros.
            std::vector<std::uint8_t> message = nullMessage();
            if (dataAddress == kHostSourceAddress && pendingReply_) {
                message = std::move(*pendingReply_);
                pendingReply_.reset();
            }
            handedBack.assign(buffer.size(), 0);
            std::copy_n(message.begin(), std::min(message.size(), buffer.size()),
                        handedBack.begin());
            std::copy(handedBack.begin(), handedBack.end(), buffer.begin());
        }
        record(I2CDirection::Read, chipAddress, dataAddress, std::move(handedBack), status);
        transaction = transactions_.back();
        observer = observer_;
    }
    if (observer) {
        observer(transaction);
    }
    return transaction.status;
}

// A request that is not well formed in every byte is ignored, as a display would: the bus
// transfer itself still succeeded.
void SimMonitor::receive(std::uint32_t dataAddress, std::span<const std::uint8_t> bytes) {
    if (dataAddress != kHostSourceAddress || bytes.size() < kFraming + 1) {
        return;
    }
    const std::uint8_t lengthByte = bytes.front();
    const std::size_t payload = lengthByte & kLengthMask;
    if ((lengthByte & kLengthFlag) == 0 || bytes.size() != payload + kFraming) {
        return;
    }
    const auto checked = bytes.first(bytes.size() - 1);
    if (xorAll(kDisplayAddress ^ kHostSourceAddress, checked) != bytes.back()) {
        return;
    }
    const std::uint8_t opcode = bytes[1];
    if (opcode == kOpSetVCPFeature && payload == kSetVCPFeaturePayload) {
        pendingReply_.reset();
        const std::uint8_t code = bytes[2];
        const auto value = static_cast<std::uint16_t>(bytes[3] << 8 | bytes[4]);
        if (auto found = controls_.find(code);
            found != controls_.end() && !ignoredSets_.contains(code)) {
            found->second.current = value;
            appliedSets_.push_back(VCPSet{code, value});
        }
    } else if (opcode == kOpGetVCPFeature && payload == kGetVCPFeaturePayload) {
        prepareReply(bytes[2]);
    }
}

void SimMonitor::prepareReply(std::uint8_t code) {
    if (scriptedReply_) {
        pendingReply_ = std::move(*scriptedReply_);
        scriptedReply_.reset();
        return;
    }
    const auto found = controls_.find(code);
    const bool supported = found != controls_.end();
    const VCPControl control = supported ? found->second : VCPControl{};
    const bool spoiled = spoiledReplies_.take();
    if (spoiled && replyFault_ == ReplyFault::Silent) {
        pendingReply_ = nullMessage();
        return;
    }
    const std::uint8_t echoedCode = spoiled && replyFault_ == ReplyFault::OtherCode
                                        ? static_cast<std::uint8_t>(code + 1)
                                        : code;
    auto reply = sealedReply({
        kDisplayAddress,
        static_cast<std::uint8_t>(kLengthFlag | kGetVCPFeatureReplyPayload),
        kOpGetVCPFeatureReply,
        supported ? kResultNoError : kResultUnsupported,
        echoedCode,
        control.type,
        high(control.maximum),
        low(control.maximum),
        high(control.current),
        low(control.current),
    });
    if (spoiled && replyFault_ == ReplyFault::BadChecksum) {
        reply.back() ^= 0xFF;
    }
    pendingReply_ = std::move(reply);
}

void SimMonitor::record(I2CDirection direction, std::uint32_t chipAddress,
                        std::uint32_t dataAddress, std::vector<std::uint8_t> bytes,
                        IOReturn status) {
    transactions_.push_back(I2CTransaction{clock_ ? clock_() : 0, direction, chipAddress,
                                           dataAddress, std::move(bytes), status});
}

void SimMonitor::setControl(std::uint8_t code, VCPControl control) {
    std::lock_guard lock(mutex_);
    controls_[code] = control;
}

void SimMonitor::removeControl(std::uint8_t code) {
    std::lock_guard lock(mutex_);
    controls_.erase(code);
}

void SimMonitor::ignoreSetsOf(std::uint8_t code) {
    std::lock_guard lock(mutex_);
    ignoredSets_.insert(code);
}

std::optional<VCPControl> SimMonitor::control(std::uint8_t code) const {
    std::lock_guard lock(mutex_);
    const auto found = controls_.find(code);
    if (found == controls_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SimMonitor::refuseWrites(std::size_t times) {
    std::lock_guard lock(mutex_);
    refusedWrites_.remaining = times;
}

void SimMonitor::refuseReads(std::size_t times) {
    std::lock_guard lock(mutex_);
    refusedReads_.remaining = times;
}

void SimMonitor::spoilReplies(ReplyFault fault, std::size_t times) {
    std::lock_guard lock(mutex_);
    replyFault_ = fault;
    spoiledReplies_.remaining = times;
}

void SimMonitor::scriptNextReply(std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    scriptedReply_ = std::move(bytes);
}

void SimMonitor::behave() {
    std::lock_guard lock(mutex_);
    refusedWrites_.remaining = 0;
    refusedReads_.remaining = 0;
    spoiledReplies_.remaining = 0;
    scriptedReply_.reset();
}

void SimMonitor::disconnect() {
    std::lock_guard lock(mutex_);
    connected_ = false;
    pendingReply_.reset();
}

bool SimMonitor::isConnected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

std::vector<I2CTransaction> SimMonitor::transactions() const {
    std::lock_guard lock(mutex_);
    return transactions_;
}

std::vector<VCPSet> SimMonitor::appliedSets() const {
    std::lock_guard lock(mutex_);
    return appliedSets_;
}

void SimMonitor::clearLog() {
    std::lock_guard lock(mutex_);
    transactions_.clear();
    appliedSets_.clear();
}

void SimMonitor::setObserver(Observer observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

} // namespace varnu::sim
