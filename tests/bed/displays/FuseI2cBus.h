#pragma once

// A folder standing in for /dev with i2c-N files that behave like the kernel's i2c-dev nodes,
// served by a FUSE file system on a thread of the test process. Each bus holds chips at
// addresses; open, flock, ioctl(I2C_SLAVE / I2C_SLAVE_FORCE / I2C_RDWR / I2C_FUNCS), write
// and read reach them through the real system calls.
//
// I2C_RDWR's messages point into the caller's memory, which FUSE does not carry; the server
// follows them with process_vm_readv/process_vm_writev on the calling process (itself or a
// child such as varnu-probe), which root, or the parent, may do.
//
// Needs root (the mount). mounted() is false when FUSE is not available; the destructor
// unmounts.

#include "tests/bed/displays/I2cChip.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct fuse;

namespace varnu::bed {

struct EmulatedBus {
    std::map<std::uint8_t, std::shared_ptr<I2cChip>> chips;
    // Addresses a kernel driver has bound (as the ddcci driver binds 0x37): I2C_SLAVE answers
    // EBUSY for them, I2C_SLAVE_FORCE and I2C_RDWR still reach the chip.
    std::set<std::uint8_t> claimed;
    // Opening answers EACCES, as for a user without access to the node.
    bool denied = false;
    // Every transfer stalls until releaseHangs() or for this long, then fails with ETIMEDOUT,
    // as an adapter does whose bus a device holds down.
    std::chrono::milliseconds hang{0};
    // False: I2C_RDWR with more than one message answers EOPNOTSUPP, as on an adapter whose
    // quirks forbid a repeated start.
    bool repeatedStart = true;
    // True: an SMBus-only adapter: I2C_FUNCS lacks I2C_FUNC_I2C, and I2C_RDWR, read and write
    // answer EOPNOTSUPP.
    bool smbusOnly = false;
    // Another reader of the EDID (the kernel's own, on a hot-plug) reads the base block between
    // any two transfers, leaving the EEPROM's pointer past it; nobody comes between the messages
    // of one I2C_RDWR.
    bool edidReader = false;
};

class FuseI2cBus {
public:
    FuseI2cBus();
    ~FuseI2cBus();
    FuseI2cBus(const FuseI2cBus&) = delete;
    FuseI2cBus& operator=(const FuseI2cBus&) = delete;

    bool mounted() const { return fuse_ != nullptr; }
    // The folder to use instead of /dev.
    const std::string& root() const { return root_; }
    std::string path(int number) const { return root_ + "/i2c-" + std::to_string(number); }

    void setBus(int number, EmulatedBus bus);
    // The node goes; descriptors still open on it answer ENODEV from then on.
    void removeBus(int number);

    // The transfers each bus carried, as text: "write 37: 51 82 01 62 DE", "read 37: 11"
    // (the size asked for), with "message " in front for I2C_RDWR; failed ones end in
    // " -> errno".
    std::vector<std::string> transfers(int number) const;
    void clearTransfers();

    // Blocks until a transfer on the bus is stalled by its hang, or the timeout passes.
    bool waitForHang(int number, std::chrono::milliseconds timeout);
    void releaseHangs();

    // The file system's entry points, for its C callbacks.
    struct Server;

private:
    friend struct Server;
    struct Bus {
        EmulatedBus setup;
        std::uint64_t generation = 0;
        std::vector<std::string> transfers;
        bool hanging = false;
    };
    struct OpenFile {
        int number = 0;
        std::uint64_t generation = 0;
        std::uint8_t address = 0;
    };

    // One message of a transfer; `messages` is how many the I2C_RDWR carries, 0 for a read or
    // write.
    int transfer(std::uint64_t handle, int messages, std::uint8_t address, bool reading,
                 std::span<std::uint8_t> bytes);
    // What comes between two transfers: another reader of the EDID.
    void afterTransfer(std::uint64_t handle);
    bool smbusOnly(std::uint64_t handle);
    // The bus a descriptor is open on, with the lock held; null when the node went.
    Bus* busOf(std::uint64_t handle);

    std::string root_;
    struct fuse* fuse_ = nullptr;
    std::thread loop_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, Bus> buses_;
    std::uint64_t generations_ = 0;
    std::map<std::uint64_t, OpenFile> open_;
    std::uint64_t nextHandle_ = 1;
    bool released_ = false;
};

} // namespace varnu::bed
