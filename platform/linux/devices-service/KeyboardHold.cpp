#include "platform/linux/devices-service/KeyboardHold.h"

#include "platform/linux/devices-service/KeyQuestions.h"
#include "platform/linux/input/LoginSession.h"
#include "platform/linux/input/TapDevices.h"
#include "platform/linux/input/TapReader.h"

#include <atomic>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varnu::linux_backend::devices {
namespace {

constexpr std::uint64_t kNotAnswering = 1;
constexpr std::uint64_t kReaderStopped = 1ull << 32;

void signal(int fd, std::uint64_t what) {
    [[maybe_unused]] auto written = ::write(fd, &what, sizeof what);
}

} // namespace

// Whether a client is served, in the shape of the login session the reader follows: the reader
// reads and grabs only while the gate is open.
class HoldGate {
public:
    HoldGate()
        : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~HoldGate() { ::close(fd_); }
    int fd() const { return fd_; }
    bool isOpen() const { return open_; }
    void set(bool open) {
        if (open_.exchange(open) != open) {
            signal(fd_, 1);
        }
    }
    void acknowledge() {
        std::uint64_t count = 0;
        [[maybe_unused]] auto got = ::read(fd_, &count, sizeof count);
    }

private:
    int fd_;
    std::atomic<bool> open_{false};
};

namespace {

class GateSession final : public LoginSession {
public:
    explicit GateSession(std::shared_ptr<HoldGate> gate)
        : gate_(std::move(gate)) {}
    bool isActive() override { return gate_->isOpen(); }
    int changeFd() const override { return gate_->fd(); }
    void acknowledgeChange() override { gate_->acknowledge(); }

private:
    std::shared_ptr<HoldGate> gate_;
};

} // namespace

std::unique_ptr<KeyboardHold> KeyboardHold::start(const HoldSettings& settings,
                                                  OnceReporter& reporter) {
    std::unique_ptr<KeyboardHold> hold(new KeyboardHold());
    hold->signalFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    hold->gate_ = std::make_shared<HoldGate>();
    if (hold->signalFd_ < 0 || hold->gate_->fd() < 0) {
        return nullptr;
    }
    hold->reader_ = TapReader::create(std::make_unique<GateSession>(hold->gate_), reporter);
    if (!hold->reader_) {
        return nullptr;
    }
    auto* reader = hold->reader_.get();
    int signals = hold->signalFd_;
    hold->questions_ = std::make_unique<KeyQuestions>(
        [reader] { reader->wake(); }, [signals] { signal(signals, kNotAnswering); });
    hold->devices_ = std::make_unique<TapDevices>(
        TapDeviceSettings{settings.uinput, settings.grabRetryInterval, settings.cloneAnnounceLimit},
        *hold->questions_,
        /*deliversSystemDefined=*/true, reporter);
    hold->reader_->start(*hold->devices_, [signals] { signal(signals, kReaderStopped); });
    return hold;
}

KeyboardHold::~KeyboardHold() {
    // The reader stops first: the devices are its own while it runs.
    reader_.reset();
    if (questions_) {
        questions_->serve(-1);
    }
    devices_.reset();
    if (signalFd_ >= 0) {
        ::close(signalFd_);
    }
}

void KeyboardHold::serve(int fd) {
    // Open questions are answered first, so that what waits behind them goes out before any
    // keyboard is let go.
    questions_->serve(fd);
    if (fd >= 0) {
        devices_->filter().setEnabled(true);
    }
    gate_->set(fd >= 0);
}

void KeyboardHold::answer(const Answer& answer) {
    questions_->answer(answer);
}

KeyboardHold::Signals KeyboardHold::takeSignals() {
    std::uint64_t count = 0;
    if (::read(signalFd_, &count, sizeof count) != sizeof count) {
        return {};
    }
    return {questions_->takeNotAnswering(), count >= kReaderStopped};
}

} // namespace varnu::linux_backend::devices
