#include "platform/linux/devices-service/DisplayHold.h"

#include "platform/PumpedMainQueue.h"
#include "platform/linux/devices-service/DdcRequests.h"
#include "platform/linux/devices-service/DdcWorker.h"
#include "platform/linux/displays/I2cDevChannel.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <limits>
#include <set>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varnu::linux_backend::devices {
namespace {

void signal(int fd) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(fd, &one, sizeof one);
}

// An index travels in one byte.
constexpr std::size_t kMostDisplays = std::numeric_limits<std::uint8_t>::max();
constexpr std::chrono::milliseconds kStopCheckInterval{100};

// N of ".../i2c-N".
std::uint16_t busNumber(const std::string& path) {
    auto digits = path.find_last_not_of("0123456789") + 1;
    unsigned number = 0;
    std::from_chars(path.data() + digits, path.data() + path.size(), number);
    return static_cast<std::uint16_t>(number);
}

} // namespace

// What the worker and the server share: the results on their way, and the count of transfers
// each client has waiting.
struct DisplayHold::Shared {
    explicit Shared(int fd, std::ostream* diagnostics)
        : signalFd(fd)
        , reports(std::make_shared<I2cDevReports>(diagnostics)) {}

    void finish(ClientId client, DdcResult result) {
        if (result.status > kLargestStatus) {
            result.status = EIO;
        }
        {
            std::lock_guard lock(mutex);
            results.emplace_back(client, std::move(result));
            if (auto waiting = pending.find(client);
                waiting != pending.end() && --waiting->second == 0) {
                pending.erase(waiting);
            }
        }
        signal(signalFd);
    }

    const int signalFd;
    const std::shared_ptr<I2cTransport> transport = std::make_shared<SystemI2cTransport>();
    const std::shared_ptr<I2cDevReports> reports;
    std::mutex mutex;
    std::vector<std::pair<ClientId, DdcResult>> results;
    std::map<ClientId, int> pending;
};

// The main queue DrmDisplays posts its changes to: run by the server when it picks up signals.
class DisplayHold::SignalingQueue final : public MainQueue {
public:
    explicit SignalingQueue(int fd)
        : signalFd_(fd) {}
    void async(Job job) override {
        jobs_.async(std::move(job));
        signal(signalFd_);
    }
    // Timers run at the next signal; DrmDisplays sets none.
    std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds delay, Job job) override {
        return jobs_.asyncAfter(delay, std::move(job));
    }
    std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                        Job job) override {
        return jobs_.scheduleRepeatingTimer(interval, std::move(job));
    }
    void run() { jobs_.pumpFor(std::chrono::milliseconds(0)); }

private:
    int signalFd_;
    PumpedMainQueue jobs_;
};

std::unique_ptr<DisplayHold> DisplayHold::start(const DrmPaths& paths, std::ostream* diagnostics) {
    std::unique_ptr<DisplayHold> hold(new DisplayHold());
    hold->signalFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (hold->signalFd_ < 0) {
        return nullptr;
    }
    hold->shared_ = std::make_shared<Shared>(hold->signalFd_, diagnostics);
    hold->mainQueue_ = std::make_shared<SignalingQueue>(hold->signalFd_);
    hold->worker_ =
        std::make_unique<DdcWorker>(hold->shared_->transport, hold->shared_->reports,
                                    [shared = hold->shared_](ClientId client, DdcResult result) {
                                        shared->finish(client, std::move(result));
                                    });
    hold->displays_ = std::make_unique<DrmDisplays>(hold->mainQueue_, paths, DrmDisplaysTiming{},
                                                    hold->shared_->transport, nullptr, diagnostics);
    hold->displays_->setChangeHandler([raw = hold.get()] { raw->refresh(); });
    hold->firstLook_ = std::jthread([raw = hold.get()](std::stop_token stop) {
        while (!stop.stop_requested() && !raw->displays_->waitForLooks(1, kStopCheckInterval)) {
        }
        raw->looked_ = true;
        signal(raw->signalFd_);
    });
    return hold;
}

DisplayHold::~DisplayHold() {
    if (firstLook_.joinable()) {
        firstLook_.request_stop();
        firstLook_.join();
    }
    displays_.reset();
    worker_.reset();
    if (signalFd_ >= 0) {
        ::close(signalFd_);
    }
}

DisplayHold::Signals DisplayHold::takeSignals() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = ::read(signalFd_, &count, sizeof count);
    const auto generation = generation_;
    const bool wasReady = ready_;
    mainQueue_->run();
    if (!ready_ && looked_) {
        ready_ = true;
        refresh();
    }
    Signals signals;
    signals.listChanged = ready_ && (!wasReady || generation != generation_);
    std::lock_guard lock(shared_->mutex);
    signals.results.swap(shared_->results);
    return signals;
}

void DisplayHold::refresh() {
    std::vector<Listed> listed;
    for (const auto& display : displays_->externalDisplays()) {
        if (listed.size() == kMostDisplays) {
            break;
        }
        const auto* channel = dynamic_cast<const I2cDevChannel*>(display.service.get());
        if (channel) {
            listed.push_back({display.productName, display.identity, channel->path(),
                              busNumber(channel->path())});
        }
    }
    if (listed == listed_) {
        return;
    }
    ++generation_;
    listed_ = std::move(listed);
    std::set<std::string> buses;
    for (const auto& each : listed_) {
        buses.insert(each.busPath);
    }
    // Channels to buses that left the list are closed.
    worker_->keepOnly(std::move(buses));
}

std::vector<DisplayEntry> DisplayHold::entries() const {
    std::vector<DisplayEntry> entries;
    const auto count = static_cast<std::uint8_t>(listed_.size());
    for (std::size_t index = 0; index < listed_.size(); ++index) {
        entries.push_back({generation_, static_cast<std::uint8_t>(index), count,
                           listed_[index].productName, listed_[index].identity,
                           listed_[index].bus});
    }
    if (entries.empty()) {
        entries.push_back({generation_, 0, 0, {}, {}, 0});
    }
    return entries;
}

std::optional<std::string> DisplayHold::busOf(const DisplayToken& display) const {
    if (display.generation != generation_ || display.index >= listed_.size()) {
        return std::nullopt;
    }
    return listed_[display.index].busPath;
}

std::optional<std::uint32_t> DisplayHold::admit(ClientId client) {
    std::lock_guard lock(shared_->mutex);
    auto& waiting = shared_->pending[client];
    if (waiting >= kMostPending) {
        return EBUSY;
    }
    ++waiting;
    return std::nullopt;
}

std::optional<std::uint32_t> DisplayHold::queue(ClientId client, const DisplayToken& display,
                                                std::uint32_t id, bool asksReply,
                                                std::function<DdcResult(I2cDevChannel&)> work) {
    auto bus = busOf(display);
    if (!bus) {
        return ENODEV;
    }
    if (auto refused = admit(client)) {
        return refused;
    }
    worker_->queue(client, *bus, id, asksReply, std::move(work));
    return std::nullopt;
}

std::optional<std::uint32_t> DisplayHold::transfer(ClientId client, const DdcWrite& write) {
    return queue(
        client, write.display, write.id, asksReply(write), [write](I2cDevChannel& channel) {
            auto status = channel.writeI2C(write.chipAddress, write.dataAddress, write.bytes);
            return DdcResult{write.id, static_cast<std::uint32_t>(status), {}};
        });
}

std::optional<std::uint32_t> DisplayHold::transfer(ClientId client, const DdcRead& read) {
    return queue(client, read.display, read.id, false, [read](I2cDevChannel& channel) {
        std::vector<std::uint8_t> reply(read.length);
        auto status = channel.readI2C(read.chipAddress, read.dataAddress, reply);
        if (status != kIOReturnSuccess) {
            reply.clear();
        }
        return DdcResult{read.id, static_cast<std::uint32_t>(status), std::move(reply)};
    });
}

void DisplayHold::release(ClientId client) {
    worker_->release(client);
}

void DisplayHold::forget(ClientId client) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->pending.erase(client);
    }
    worker_->release(client);
}

} // namespace varnu::linux_backend::devices
