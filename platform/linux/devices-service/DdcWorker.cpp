#include "platform/linux/devices-service/DdcWorker.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace varnu::linux_backend::devices {

DdcWorker::DdcWorker(std::shared_ptr<I2cTransport> transport,
                     std::shared_ptr<I2cDevReports> reports, Done done,
                     std::chrono::milliseconds replyWithin)
    : transport_(std::move(transport))
    , reports_(std::move(reports))
    , done_(std::move(done))
    , replyWithin_(replyWithin)
    , thread_([this] { run(); }) {}

DdcWorker::~DdcWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DdcWorker::queue(ClientId client, const std::string& bus, std::uint32_t id, bool asksReply,
                      Work work) {
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back({client, bus, id, asksReply, std::move(work)});
    }
    wake_.notify_one();
}

void DdcWorker::release(ClientId client) {
    std::vector<std::uint32_t> refused;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(waiting_, [&](const Transfer& transfer) {
            if (transfer.client == client) {
                refused.push_back(transfer.id);
            }
            return transfer.client == client;
        });
        std::erase_if(held_, [&](const auto& entry) {
            if (entry.second.client == client) {
                closing_.insert(entry.first);
            }
            return entry.second.client == client;
        });
        runningReleased_ = runningReleased_ || running_ == client;
    }
    wake_.notify_one();
    for (auto id : refused) {
        done_(client, DdcResult{id, EPERM, {}});
    }
}

void DdcWorker::keepOnly(std::set<std::string> buses) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(held_, [&](const auto& entry) { return !buses.contains(entry.first); });
        kept_ = std::move(buses);
    }
    wake_.notify_one();
}

std::optional<DdcWorker::Transfer> DdcWorker::takeNext() {
    auto free = std::find_if(waiting_.begin(), waiting_.end(), [this](const Transfer& transfer) {
        auto held = held_.find(transfer.bus);
        return held == held_.end() || held->second.client == transfer.client;
    });
    if (free == waiting_.end()) {
        return std::nullopt;
    }
    auto transfer = std::move(*free);
    waiting_.erase(free);
    return transfer;
}

void DdcWorker::closeEnded(Clock::time_point now) {
    // A channel that goes closes its descriptor, and the lock on the bus with it.
    std::erase_if(held_, [&](const auto& entry) {
        if (now >= entry.second.until) {
            closing_.insert(entry.first);
        }
        return now >= entry.second.until;
    });
    for (const auto& bus : closing_) {
        channels_.erase(bus);
    }
    closing_.clear();
    if (kept_) {
        std::erase_if(channels_, [&](const auto& entry) { return !kept_->contains(entry.first); });
        kept_.reset();
    }
}

I2cDevChannel& DdcWorker::channel(const std::string& bus) {
    auto& channel = channels_[bus];
    if (!channel) {
        channel = std::make_unique<I2cDevChannel>(
            transport_, bus, static_cast<std::uint8_t>(kDDCChipAddress), reports_);
    }
    return *channel;
}

void DdcWorker::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        closeEnded(Clock::now());
        auto transfer = takeNext();
        if (!transfer) {
            auto due =
                std::min_element(held_.begin(), held_.end(), [](const auto& a, const auto& b) {
                    return a.second.until < b.second.until;
                });
            if (due == held_.end()) {
                wake_.wait(lock);
            } else {
                // A copy: the transaction may end while this waits.
                const auto until = due->second.until;
                wake_.wait_until(lock, until);
            }
            continue;
        }
        running_ = transfer->client;
        runningReleased_ = false;
        auto& on = channel(transfer->bus);
        lock.unlock();
        auto result = transfer->work(on);
        lock.lock();
        running_.reset();
        // Whatever the client did on its bus ended the transaction before; a request that asks
        // for a reply begins the next.
        held_.erase(transfer->bus);
        if (runningReleased_) {
            closing_.insert(transfer->bus);
        } else if (transfer->asksReply && result.status == 0) {
            held_[transfer->bus] = {transfer->client, Clock::now() + replyWithin_};
        }
        lock.unlock();
        done_(transfer->client, std::move(result));
        lock.lock();
    }
}

} // namespace varnu::linux_backend::devices
