#pragma once

// A simulated display at the far end of a DDC/CI bus.
//
// Implements: the display's side of Set VCP Feature and Get VCP Feature over I2C, every request
// checked byte for byte (chip address, data address, length byte, opcode, checksum); VCP
// controls with a current value, a maximum and a type byte, and controls that take a set without
// effect; refused transfers, replies for another code, bad reply checksums, silence (the Null
// Message), replies scripted byte for byte; unplugging; a log of every transfer in virtual time,
// with an optional observer.
// Does not implement: the other DDC/CI messages (capabilities, timing report, table access),
// the display's timing limits (it answers however soon it is asked), or more than one message
// per transfer.
//
// Checksums follow DDC/CI: the XOR of every byte of the message from the destination address
// on. For host→display messages those are 0x6E and the data-address byte 0x51; for
// display→host messages the destination is the virtual host address 0x50 and the source 0x6E
// is the first byte read back. The Null Message is therefore 6E 80 BE.

#include "platform/AVService.h"
#include "platform/sim/SimScheduler.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace varnu::sim {

// What the display answers when nobody is there or it refuses a transfer.
constexpr IOReturn kIOReturnNotResponding = static_cast<IOReturn>(0xE00002ED);

// VCP type bytes of a Get VCP Feature reply.
constexpr std::uint8_t kVCPTypeSetParameter = 0x00;
constexpr std::uint8_t kVCPTypeMomentary = 0x01;

enum class I2CDirection { Write, Read };

struct I2CTransaction {
    std::int64_t timeMilliseconds = 0;
    I2CDirection direction = I2CDirection::Write;
    std::uint32_t chipAddress = 0;
    std::uint32_t dataAddress = 0;
    // The bytes the host sent, or the bytes handed back to it (none when refused).
    std::vector<std::uint8_t> bytes;
    IOReturn status = kIOReturnSuccess;
};

struct VCPControl {
    std::uint16_t current = 0;
    std::uint16_t maximum = 0;
    std::uint8_t type = kVCPTypeSetParameter;
    friend bool operator==(const VCPControl&, const VCPControl&) = default;
};

// One Set VCP Feature the display carried out.
struct VCPSet {
    std::uint8_t code = 0;
    std::uint16_t value = 0;
    friend bool operator==(const VCPSet&, const VCPSet&) = default;
};

// Ways to spoil the replies the display prepares.
enum class ReplyFault {
    OtherCode,   // the reply is for the next code up
    BadChecksum, // the checksum byte is wrong
    Silent,      // the display sends the Null Message instead
};

class SimMonitor final : public std::enable_shared_from_this<SimMonitor> {
public:
    using Clock = std::function<std::int64_t()>;
    using Observer = std::function<void(const I2CTransaction&)>;

    // A count for the faults below that never runs out.
    static constexpr std::size_t kAlways = static_cast<std::size_t>(-1);

    // A display with speaker volume 0x62 (50 of 100), audio mute 0x8D (2, unmuted) and the
    // on-screen display 0xCA (2, shown). Transfers are stamped with the clock, in milliseconds;
    // without one they are stamped 0.
    static std::shared_ptr<SimMonitor> create(Clock clock = {});
    static std::shared_ptr<SimMonitor> create(const std::shared_ptr<SimScheduler>& scheduler);

    SimMonitor(const SimMonitor&) = delete;
    SimMonitor& operator=(const SimMonitor&) = delete;

    // A handle on this display's bus; the display lives as long as any handle does.
    std::unique_ptr<AVService> makeService();

    // The bus, as a handle sees it.
    IOReturn writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                      std::span<const std::uint8_t> bytes);
    IOReturn readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                     std::span<std::uint8_t> buffer);

    void setControl(std::uint8_t code, VCPControl control);
    void removeControl(std::uint8_t code);
    std::optional<VCPControl> control(std::uint8_t code) const;
    // From now on a Set VCP Feature for the code is taken without effect, as by a display that
    // accepts a value it cannot carry out: the control keeps its value and the set is not
    // counted among the applied ones.
    void ignoreSetsOf(std::uint8_t code);

    // The next transfers fail with kIOReturnNotResponding, `times` of them or kAlways.
    void refuseWrites(std::size_t times = 1);
    void refuseReads(std::size_t times = 1);
    // The next replies the display prepares are spoiled, `times` of them or kAlways.
    void spoilReplies(ReplyFault fault, std::size_t times = 1);
    // The next reply the display prepares is replaced by exactly these bytes.
    void scriptNextReply(std::vector<std::uint8_t> bytes);
    // Ends every fault above.
    void behave();

    // Unplugged: every transfer from now on is refused.
    void disconnect();
    bool isConnected() const;

    std::vector<I2CTransaction> transactions() const;
    std::vector<VCPSet> appliedSets() const;
    void clearLog();
    // Called after each transfer, outside the display's lock.
    void setObserver(Observer observer);

private:
    struct Countdown {
        std::size_t remaining = 0;
        // Counts one use down; true while the count lasts.
        bool take();
    };

    explicit SimMonitor(Clock clock);

    void receive(std::uint32_t dataAddress, std::span<const std::uint8_t> bytes);
    void prepareReply(std::uint8_t code);
    void record(I2CDirection direction, std::uint32_t chipAddress, std::uint32_t dataAddress,
                std::vector<std::uint8_t> bytes, IOReturn status);

    Clock clock_;
    mutable std::mutex mutex_;
    std::map<std::uint8_t, VCPControl> controls_;
    std::set<std::uint8_t> ignoredSets_;
    std::optional<std::vector<std::uint8_t>> pendingReply_;
    Countdown refusedWrites_;
    Countdown refusedReads_;
    Countdown spoiledReplies_;
    ReplyFault replyFault_ = ReplyFault::OtherCode;
    std::optional<std::vector<std::uint8_t>> scriptedReply_;
    bool connected_ = true;
    std::vector<I2CTransaction> transactions_;
    std::vector<VCPSet> appliedSets_;
    Observer observer_;
};

} // namespace varnu::sim
