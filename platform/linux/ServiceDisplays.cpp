#include "platform/linux/ServiceDisplays.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

namespace varnu::linux_backend {

using namespace devices;

// The displays' listener on the connection and the transfers waiting for their answers: lives
// as long as a display's channel, a job on the main queue or the connection's thread needs it.
class ServiceDisplays::Link final : public DevicesListener,
                                    public std::enable_shared_from_this<Link> {
public:
    Link(const std::shared_ptr<DevicesConnection>& connection, std::shared_ptr<MainQueue> mainQueue)
        : connection_(connection)
        , mainQueue_(std::move(mainQueue)) {}

    std::vector<DisplayEntry> list() {
        std::lock_guard lock(mutex_);
        return list_;
    }

    void setChangeHandler(std::function<void()> handler) {
        std::lock_guard lock(mutex_);
        changeHandler_ = std::move(handler);
    }

    bool waitForList(std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [this] { return listed_; });
    }

    // The "ddc" queue: sends the request and waits for its answer.
    DdcResult transfer(std::uint32_t id, const ClientMessage& request) {
        {
            std::lock_guard lock(mutex_);
            answers_[id];
        }
        auto connection = connection_.lock();
        bool sent = connection && connection->send(request);
        std::unique_lock lock(mutex_);
        auto answered = [&] { return answers_[id].has_value(); };
        DdcResult result{id, static_cast<std::uint32_t>(sent ? ETIMEDOUT : ENOTCONN), {}};
        if (sent && changed_.wait_for(lock, kLongestTransfer, answered)) {
            result = *answers_[id];
        }
        answers_.erase(id);
        return result;
    }

    std::uint32_t nextId() {
        std::lock_guard lock(mutex_);
        return ++lastId_;
    }

    void received(const ServiceMessage& message) override {
        if (auto* result = std::get_if<DdcResult>(&message)) {
            std::lock_guard lock(mutex_);
            if (auto waiting = answers_.find(result->id); waiting != answers_.end()) {
                waiting->second = *result;
            }
        } else if (auto* entry = std::get_if<DisplayEntry>(&message)) {
            take(*entry);
        }
        changed_.notify_all();
    }

    void linkChanged(const LinkState& state, DevicesConnection& connection) override {
        bool welcomed = state.phase == LinkState::Phase::Welcomed;
        if (welcomed == welcomed_.exchange(welcomed)) {
            return;
        }
        if (welcomed) {
            connection.send(DisplaysWanted{});
            return;
        }
        {
            std::lock_guard lock(mutex_);
            for (auto& [id, answer] : answers_) {
                answer = DdcResult{id, static_cast<std::uint32_t>(ENOTCONN), {}};
            }
            building_.clear();
            if (!list_.empty()) {
                list_.clear();
                postChange();
            }
        }
        changed_.notify_all();
    }

private:
    void take(const DisplayEntry& entry) {
        std::lock_guard lock(mutex_);
        if (entry.index == 0) {
            building_.clear();
        }
        if (entry.index != building_.size() ||
            (!building_.empty() && building_.front().generation != entry.generation)) {
            return;
        }
        if (entry.count > 0) {
            building_.push_back(entry);
        }
        if (building_.size() < entry.count) {
            return;
        }
        listed_ = true;
        if (building_ != list_) {
            list_ = std::move(building_);
            postChange();
        }
        building_.clear();
    }

    void postChange() {
        if (!changeHandler_) {
            return;
        }
        mainQueue_->async([weak = weak_from_this()] {
            std::function<void()> handler;
            if (auto link = weak.lock()) {
                std::lock_guard lock(link->mutex_);
                handler = link->changeHandler_;
            }
            if (handler) {
                handler();
            }
        });
    }

    // Never locked on the connection's thread: a connection must not end on its own thread.
    std::weak_ptr<DevicesConnection> connection_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> changeHandler_;
    std::vector<DisplayEntry> list_;
    std::vector<DisplayEntry> building_;
    bool listed_ = false;
    std::map<std::uint32_t, std::optional<DdcResult>> answers_;
    std::uint32_t lastId_ = 0;
    std::atomic<bool> welcomed_{false};
};

namespace {

constexpr std::uint32_t kLargestByte = 0xFF;

// One listed display's DDC/CI, through the service.
class ServiceDdcChannel final : public AVService {
public:
    ServiceDdcChannel(std::shared_ptr<ServiceDisplays::Link> link, DisplayToken display)
        : link_(std::move(link))
        , display_(display) {}

    IOReturn writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                      std::span<const std::uint8_t> bytes) override {
        if (chipAddress > kLargestByte || dataAddress > kLargestByte ||
            bytes.size() > kDdcBytesField) {
            return EINVAL;
        }
        auto id = link_->nextId();
        return status(link_->transfer(id, DdcWrite{id,
                                                   display_,
                                                   static_cast<std::uint8_t>(chipAddress),
                                                   static_cast<std::uint8_t>(dataAddress),
                                                   {bytes.begin(), bytes.end()}}));
    }

    IOReturn readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                     std::span<std::uint8_t> buffer) override {
        if (chipAddress > kLargestByte || dataAddress > kLargestByte ||
            buffer.size() > kDdcBytesField) {
            return EINVAL;
        }
        auto id = link_->nextId();
        auto result =
            link_->transfer(id, DdcRead{id, display_, static_cast<std::uint8_t>(chipAddress),
                                        static_cast<std::uint8_t>(dataAddress),
                                        static_cast<std::uint8_t>(buffer.size())});
        // A failure's bytes are not a reply, whatever their size.
        if (result.status != 0) {
            return status(result);
        }
        if (result.bytes.size() != buffer.size()) {
            return EIO;
        }
        std::copy(result.bytes.begin(), result.bytes.end(), buffer.begin());
        return kIOReturnSuccess;
    }

private:
    static IOReturn status(const DdcResult& result) { return static_cast<IOReturn>(result.status); }

    std::shared_ptr<ServiceDisplays::Link> link_;
    DisplayToken display_;
};

} // namespace

ServiceDisplays::ServiceDisplays(std::shared_ptr<DevicesConnection> connection,
                                 std::shared_ptr<MainQueue> mainQueue)
    : link_(std::make_shared<Link>(connection, std::move(mainQueue))) {
    connection->listen(Family::Displays, link_);
    // A connection that is welcomed already does not say so again.
    link_->linkChanged(connection->state(), *connection);
}

ServiceDisplays::~ServiceDisplays() {
    link_->setChangeHandler(nullptr);
}

std::vector<ExternalDisplay> ServiceDisplays::externalDisplays() {
    std::vector<ExternalDisplay> displays;
    for (const auto& entry : link_->list()) {
        displays.push_back({entry.productName, channelFor(entry), entry.identity});
    }
    return displays;
}

std::vector<DisplayEntry> ServiceDisplays::entries() {
    return link_->list();
}

std::unique_ptr<AVService> ServiceDisplays::channelFor(const DisplayEntry& entry) {
    return std::make_unique<ServiceDdcChannel>(link_, DisplayToken{entry.generation, entry.index});
}

void ServiceDisplays::setChangeHandler(std::function<void()> handler) {
    link_->setChangeHandler(std::move(handler));
}

bool ServiceDisplays::waitForList(std::chrono::milliseconds bound) {
    return link_->waitForList(bound);
}

} // namespace varnu::linux_backend
