#pragma once

// A umockdev testbed for the life of a test: a fake /sys that libudev enumerates, device nodes
// the code under test opens, and handlers that answer their ioctl() and write() calls on a
// thread of their own, so that the test's thread may block in those calls. Runs only inside
// umockdev-wrapper (isActive()).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace varnu::bed {

// One ioctl() or write() of the code under test, answered exactly once.
class DeviceCall {
public:
    explicit DeviceCall(UMockdevIoctlClient* client);
    ~DeviceCall();
    DeviceCall(const DeviceCall&) = delete;
    DeviceCall& operator=(const DeviceCall&) = delete;

    // Which open file the call came through; the same for every call on one descriptor.
    const void* client() const { return client_; }
    unsigned long request() const;
    // The ioctl argument taken as a value (EVIOCGRAB, UI_SET_EVBIT).
    std::uint64_t value() const;
    // The memory the ioctl argument points to; for write(), the bytes written.
    std::vector<std::uint8_t> bytes(std::size_t length) const;
    std::vector<std::uint8_t> written() const;

    // Copies the data into the memory the argument points to, then completes.
    void reply(long result, std::span<const std::uint8_t> data);
    void complete(long result, int error = 0);
    bool completed() const { return completed_; }

private:
    UMockdevIoctlClient* client_;
    bool completed_ = false;
};

// What an emulated device node does with the calls on it; runs on the bed's handler thread.
class DeviceHandler {
public:
    virtual ~DeviceHandler() = default;
    virtual void ioctl(DeviceCall& call) = 0;
    virtual void write(DeviceCall& call) {
        call.complete(static_cast<long>(call.written().size()));
    }
    // The errno every read() of the node fails with from now on; 0: reads take the node's stream.
    virtual int readError() const { return 0; }
    // A descriptor opened or closed; a new one may come at the address of one closed before.
    virtual void opened(const void* /*client*/) {}
    virtual void closed(const void* /*client*/) {}
};

class UmockdevBed {
public:
    UmockdevBed();
    ~UmockdevBed();
    UmockdevBed(const UmockdevBed&) = delete;
    UmockdevBed& operator=(const UmockdevBed&) = delete;

    // Whether the process runs under umockdev-wrapper.
    static bool isActive();

    // Devices in umockdev-record's text format (P:, N:, E:, A: lines); nodes without contents
    // are streams the test writes into through streamFd(). Any thread.
    bool add(const std::string& description);
    void remove(const std::string& syspath);
    // Sets a udev property, as udev's rules would once it processes the device.
    void setProperty(const std::string& syspath, const std::string& name, const std::string& value);
    // Sends a udev event ("add", "change", "remove") to the process's udev monitors.
    void uevent(const std::string& syspath, const std::string& action);
    // The test's end of a stream node; what is written there is what a read() of the node gets.
    int streamFd(const std::string& devnode);
    // From now on the handler answers the node's ioctl() and write() calls. It must outlive the
    // bed.
    bool attach(const std::string& devnode, DeviceHandler& handler);

private:
    struct Thread;

    std::recursive_mutex mutex_;
    UMockdevTestbed* testbed_;
    std::unique_ptr<Thread> thread_;
};

} // namespace varnu::bed
