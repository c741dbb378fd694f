#define FUSE_USE_VERSION 35
#include "tests/bed/displays/FuseI2cBus.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fuse3/fuse.h>
#include <fuse3/fuse_lowlevel.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace varnu::bed {
namespace {

constexpr std::string_view kBusPrefix = "/i2c-";
constexpr std::uint8_t kEdidAddress = 0x50;
constexpr std::uint8_t kEdidBlockSize = 128;

std::optional<int> busNumber(const char* path) {
    std::string_view name(path);
    if (!name.starts_with(kBusPrefix)) {
        return std::nullopt;
    }
    char* end = nullptr;
    long number = std::strtol(name.data() + kBusPrefix.size(), &end, 10);
    if (end == name.data() + kBusPrefix.size() || *end != '\0') {
        return std::nullopt;
    }
    return static_cast<int>(number);
}

std::string describe(bool viaMessage, bool reading, std::uint8_t address,
                     std::span<const std::uint8_t> bytes) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", address);
    std::string line =
        std::string(viaMessage ? "message " : "") + (reading ? "read " : "write ") + text + ":";
    if (reading) {
        return line + ' ' + std::to_string(bytes.size());
    }
    for (auto byte : bytes) {
        std::snprintf(text, sizeof text, " %02X", byte);
        line += text;
    }
    return line;
}

bool copyFrom(pid_t pid, const void* remote, void* local, std::size_t size) {
    iovec here{local, size};
    iovec there{const_cast<void*>(remote), size};
    return ::process_vm_readv(pid, &here, 1, &there, 1, 0) == static_cast<ssize_t>(size);
}

bool copyTo(pid_t pid, void* remote, const void* local, std::size_t size) {
    iovec here{const_cast<void*>(local), size};
    iovec there{remote, size};
    return ::process_vm_writev(pid, &here, 1, &there, 1, 0) == static_cast<ssize_t>(size);
}

FuseI2cBus& self() {
    return *static_cast<FuseI2cBus*>(fuse_get_context()->private_data);
}

} // namespace

struct FuseI2cBus::Server {
    static int getattr(const char* path, struct stat* st, fuse_file_info*) {
        std::memset(st, 0, sizeof *st);
        if (std::strcmp(path, "/") == 0) {
            st->st_mode = S_IFDIR | 0755;
            st->st_nlink = 2;
            return 0;
        }
        auto number = busNumber(path);
        std::lock_guard lock(self().mutex_);
        if (!number || !self().buses_.contains(*number)) {
            return -ENOENT;
        }
        st->st_mode = S_IFREG | 0660;
        st->st_nlink = 1;
        return 0;
    }

    static int readdir(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                       fuse_readdir_flags) {
        fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
        fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
        std::lock_guard lock(self().mutex_);
        for (const auto& [number, bus] : self().buses_) {
            fill(buffer, ("i2c-" + std::to_string(number)).c_str(), nullptr, 0,
                 fuse_fill_dir_flags{});
        }
        return 0;
    }

    static int open(const char* path, fuse_file_info* info) {
        auto number = busNumber(path);
        auto& bed = self();
        std::lock_guard lock(bed.mutex_);
        auto found = number ? bed.buses_.find(*number) : bed.buses_.end();
        if (found == bed.buses_.end()) {
            return -ENOENT;
        }
        if (found->second.setup.denied) {
            return -EACCES;
        }
        info->fh = bed.nextHandle_++;
        info->direct_io = 1;
        info->nonseekable = 1;
        bed.open_[info->fh] = OpenFile{*number, found->second.generation, 0};
        return 0;
    }

    static int release(const char*, fuse_file_info* info) {
        std::lock_guard lock(self().mutex_);
        self().open_.erase(info->fh);
        return 0;
    }

    static int read(const char*, char* buffer, size_t size, off_t, fuse_file_info* info) {
        const int moved =
            self().transfer(info->fh, 0, 0, true, {reinterpret_cast<std::uint8_t*>(buffer), size});
        self().afterTransfer(info->fh);
        return moved;
    }

    static int write(const char*, const char* buffer, size_t size, off_t, fuse_file_info* info) {
        const int moved =
            self().transfer(info->fh, 0, 0, false,
                            {reinterpret_cast<std::uint8_t*>(const_cast<char*>(buffer)), size});
        self().afterTransfer(info->fh);
        return moved;
    }

    static int ioctl(const char*, unsigned int command, void* argument, fuse_file_info* info,
                     unsigned int, void*) {
        auto& bed = self();
        const pid_t caller = fuse_get_context()->pid;
        switch (command) {
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE: {
            const auto address =
                static_cast<std::uint8_t>(reinterpret_cast<std::uintptr_t>(argument));
            std::lock_guard lock(bed.mutex_);
            const Bus* bus = bed.busOf(info->fh);
            if (!bus) {
                return -ENODEV;
            }
            if (command == I2C_SLAVE && bus->setup.claimed.contains(address)) {
                return -EBUSY;
            }
            bed.open_[info->fh].address = address;
            return 0;
        }
        case I2C_FUNCS: {
            unsigned long functions =
                I2C_FUNC_SMBUS_EMUL | (bed.smbusOnly(info->fh) ? 0 : I2C_FUNC_I2C);
            return copyTo(caller, argument, &functions, sizeof functions) ? 0 : -EFAULT;
        }
        case I2C_RDWR: {
            i2c_rdwr_ioctl_data request{};
            if (!copyFrom(caller, argument, &request, sizeof request)) {
                return -EFAULT;
            }
            for (std::uint32_t index = 0; index < request.nmsgs; ++index) {
                i2c_msg message{};
                if (!copyFrom(caller, request.msgs + index, &message, sizeof message)) {
                    return -EFAULT;
                }
                std::vector<std::uint8_t> bytes(message.len);
                const bool reading = (message.flags & I2C_M_RD) != 0;
                if (!reading && !copyFrom(caller, message.buf, bytes.data(), bytes.size())) {
                    return -EFAULT;
                }
                int moved = bed.transfer(info->fh, static_cast<int>(request.nmsgs),
                                         static_cast<std::uint8_t>(message.addr), reading, bytes);
                if (moved < 0) {
                    return moved;
                }
                if (reading && !copyTo(caller, message.buf, bytes.data(), bytes.size())) {
                    return -EFAULT;
                }
            }
            bed.afterTransfer(info->fh);
            return static_cast<int>(request.nmsgs);
        }
        default:
            return -ENOTTY;
        }
    }
};

FuseI2cBus::FuseI2cBus() {
    if (::geteuid() != 0) {
        return;
    }
    // run-in-bed.sh names a folder of the run's own, which it clears even after a crash.
    const char* folder = std::getenv("VARNU_BED_DIR");
    std::string pattern = std::string(folder ? folder : "/tmp") + "/dev-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        return;
    }
    root_ = pattern;
    static const fuse_operations operations = [] {
        fuse_operations table{};
        table.getattr = Server::getattr;
        table.readdir = Server::readdir;
        table.open = Server::open;
        table.release = Server::release;
        table.read = Server::read;
        table.write = Server::write;
        table.ioctl = Server::ioctl;
        return table;
    }();
    char program[] = "varnu-bed";
    char* arguments[] = {program, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, arguments);
    fuse_ = fuse_new(&args, &operations, sizeof operations, this);
    fuse_opt_free_args(&args);
    if (fuse_ && fuse_mount(fuse_, root_.c_str()) != 0) {
        fuse_destroy(fuse_);
        fuse_ = nullptr;
    }
    if (!fuse_) {
        ::rmdir(root_.c_str());
        return;
    }
    loop_ = std::thread([this] { fuse_loop(fuse_); });
}

FuseI2cBus::~FuseI2cBus() {
    if (!fuse_) {
        return;
    }
    releaseHangs();
    fuse_session_exit(fuse_get_session(fuse_));
    fuse_unmount(fuse_);
    loop_.join();
    fuse_destroy(fuse_);
    ::rmdir(root_.c_str());
}

void FuseI2cBus::setBus(int number, EmulatedBus bus) {
    std::lock_guard lock(mutex_);
    auto& entry = buses_[number];
    entry.setup = std::move(bus);
    entry.generation = ++generations_;
}

void FuseI2cBus::removeBus(int number) {
    std::lock_guard lock(mutex_);
    buses_.erase(number);
}

std::vector<std::string> FuseI2cBus::transfers(int number) const {
    std::lock_guard lock(mutex_);
    auto found = buses_.find(number);
    return found == buses_.end() ? std::vector<std::string>{} : found->second.transfers;
}

void FuseI2cBus::clearTransfers() {
    std::lock_guard lock(mutex_);
    for (auto& [number, bus] : buses_) {
        bus.transfers.clear();
    }
}

bool FuseI2cBus::waitForHang(int number, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        auto found = buses_.find(number);
        return found != buses_.end() && found->second.hanging;
    });
}

void FuseI2cBus::releaseHangs() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

FuseI2cBus::Bus* FuseI2cBus::busOf(std::uint64_t handle) {
    auto file = open_.find(handle);
    auto bus = file == open_.end() ? buses_.end() : buses_.find(file->second.number);
    // A node that went, or came back as another bus, belongs to nobody's descriptor.
    return bus == buses_.end() || bus->second.generation != file->second.generation ? nullptr
                                                                                    : &bus->second;
}

bool FuseI2cBus::smbusOnly(std::uint64_t handle) {
    std::lock_guard lock(mutex_);
    const Bus* bus = busOf(handle);
    return bus && bus->setup.smbusOnly;
}

void FuseI2cBus::afterTransfer(std::uint64_t handle) {
    std::shared_ptr<I2cChip> eeprom;
    {
        std::lock_guard lock(mutex_);
        const Bus* bus = busOf(handle);
        if (!bus || !bus->setup.edidReader || !bus->setup.chips.contains(kEdidAddress)) {
            return;
        }
        eeprom = bus->setup.chips.at(kEdidAddress);
    }
    const std::array<std::uint8_t, 1> pastTheBaseBlock{kEdidBlockSize};
    eeprom->write(pastTheBaseBlock);
}

int FuseI2cBus::transfer(std::uint64_t handle, int messages, std::uint8_t address, bool reading,
                         std::span<std::uint8_t> bytes) {
    const bool viaMessage = messages > 0;
    std::shared_ptr<I2cChip> chip;
    std::string line;
    {
        std::unique_lock lock(mutex_);
        auto file = open_.find(handle);
        if (file == open_.end()) {
            return -EBADF;
        }
        Bus* bus = busOf(handle);
        if (!bus) {
            return -ENODEV;
        }
        if (!viaMessage) {
            address = file->second.address;
        }
        line = describe(viaMessage, reading, address, bytes);
        if (bus->setup.smbusOnly || (messages > 1 && !bus->setup.repeatedStart)) {
            bus->transfers.push_back(line + " -> " + std::strerror(EOPNOTSUPP));
            return -EOPNOTSUPP;
        }
        if (bus->setup.hang.count() > 0) {
            bus->hanging = true;
            changed_.notify_all();
            const int number = file->second.number;
            changed_.wait_for(lock, bus->setup.hang, [&] { return released_; });
            if (auto again = buses_.find(number); again != buses_.end()) {
                again->second.hanging = false;
                again->second.transfers.push_back(line + " -> ETIMEDOUT");
            }
            return -ETIMEDOUT;
        }
        auto found = bus->setup.chips.find(address);
        if (found == bus->setup.chips.end()) {
            bus->transfers.push_back(line + " -> ENXIO");
            return -ENXIO;
        }
        chip = found->second;
    }
    int moved = reading ? chip->read(bytes) : chip->write(bytes);
    std::lock_guard lock(mutex_);
    if (Bus* bus = busOf(handle)) {
        bus->transfers.push_back(moved < 0 ? line + " -> " + std::strerror(-moved) : line);
    }
    return moved;
}

} // namespace varnu::bed
