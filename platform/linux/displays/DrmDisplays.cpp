#include "platform/linux/displays/DrmDisplays.h"

#include "ddc/VCP.h"
#include "platform/SleepingPause.h"
#include "platform/linux/displays/DrmConnectorScan.h"
#include "platform/linux/displays/DrmHotplugWatch.h"
#include "platform/linux/displays/I2cDevChannel.h"
#include "platform/linux/displays/ResumeWatch.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varnu::linux_backend {
namespace {

// What a verdict holds for: the same display, reached over the same buses. A changed EDID
// (another monitor) or renumbered buses (a dock plugged again) call for a new one.
std::string verdictBasis(const DrmConnector& connector) {
    std::string basis(connector.edid.begin(), connector.edid.end());
    for (const auto& candidate : connector.candidates) {
        basis += '\n' + std::to_string(candidate.bus) + ' ' + candidate.adapterName;
    }
    return basis;
}

// The connector and the EDID: the same monitor on the same port, whichever bus it is reached on
// today. The EDID goes in as a 64-bit FNV-1a hash, to keep the identity one short line. A
// display without a connector has the EDID its bus gave.
std::string displayIdentity(const DrmConnector& connector, const ConnectorVerdict& verdict) {
    const auto& edid = connector.edid.empty() ? verdict.edid : connector.edid;
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const auto byte : edid) {
        hash = (hash ^ byte) * 0x100000001b3;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return connector.name + ' ' + hex;
}

// A panel that named itself, or a GPU's bus without a monitor on it, is no display the user
// misses.
bool worthReporting(const DrmConnector& connector, const ConnectorVerdict& verdict) {
    if (connector.internal) {
        return false;
    }
    return !connector.withoutConnector ||
           std::any_of(verdict.trials.begin(), verdict.trials.end(), [](const auto& trial) {
               return trial.result != TrialResult::NoEdid && trial.result != TrialResult::NotAnEdid;
           });
}

int millisecondsUntil(std::chrono::steady_clock::time_point when) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(when - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 24 * 60 * 60 * 1000));
}

} // namespace

DrmDisplays::DrmDisplays(std::shared_ptr<MainQueue> mainQueue, DrmPaths paths,
                         DrmDisplaysTiming timing, std::shared_ptr<I2cTransport> transport,
                         std::shared_ptr<Pause> pause, std::ostream* diagnostics)
    : mainQueue_(std::move(mainQueue))
    , paths_(std::move(paths))
    , timing_(timing)
    , transport_(std::move(transport))
    , reports_(std::make_shared<I2cDevReports>(diagnostics))
    , probe_(transport_, paths_.deviceRoot,
             pause ? std::move(pause) : std::make_shared<SleepingPause>())
    , wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    , worker_([this](std::stop_token stop) { run(std::move(stop)); }) {}

DrmDisplays::~DrmDisplays() {
    worker_.request_stop();
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    worker_.join();
    ::close(wakeFd_);
}

std::vector<ExternalDisplay> DrmDisplays::externalDisplays() {
    std::vector<ExternalDisplay> displays;
    std::lock_guard lock(mutex_);
    for (const auto& kept : kept_) {
        displays.push_back(
            {kept.productName,
             std::make_unique<I2cDevChannel>(transport_, kept.busPath,
                                             static_cast<std::uint8_t>(kDDCChipAddress), reports_),
             kept.identity});
    }
    return displays;
}

void DrmDisplays::setChangeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    changeHandler_ = std::move(handler);
}

std::uint64_t DrmDisplays::looks() const {
    std::lock_guard lock(mutex_);
    return looks_;
}

bool DrmDisplays::waitForLooks(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return looked_.wait_for(lock, timeout, [&] { return looks_ >= count; });
}

void DrmDisplays::run(std::stop_token stop) {
    // Without udev events or the login manager's word the worker still looks once per retry
    // interval.
    auto watch = DrmHotplugWatch::open();
    auto resume = ResumeWatch::open(paths_.loginBus);
    auto nextRetry = look(Cause::Event);
    scheduleWakeRetries();
    while (!stop.stop_requested()) {
        std::array<pollfd, 3> fds{pollfd{wakeFd_, POLLIN, 0},
                                  pollfd{watch ? watch->fd() : -1, POLLIN, 0},
                                  pollfd{resume ? resume->fd() : -1, 0, 0}};
        fds[2].events = resume ? resume->events() : 0;
        auto until = std::min(nextRetry.value_or(Clock::time_point::max()),
                              Clock::now() + timing_.retryInterval);
        if (!wakeRetries_.empty()) {
            until = std::min(until, wakeRetries_.front());
        }
        int ready = ::poll(fds.data(), fds.size(), millisecondsUntil(until));
        if (stop.stop_requested()) {
            break;
        }
        if (ready > 0 && fds[2].revents != 0 && resume->resumed()) {
            nextRetry = look(Cause::Event);
            scheduleWakeRetries();
        } else if (ready > 0 && fds[1].revents != 0) {
            // Let the rest of a burst arrive, but never past a request to stop.
            pollfd wake{wakeFd_, POLLIN, 0};
            ::poll(&wake, 1, static_cast<int>(timing_.settleDelay.count()));
            if (stop.stop_requested()) {
                break;
            }
            watch->drain();
            nextRetry = look(Cause::Event);
            scheduleWakeRetries();
        } else if (!wakeRetries_.empty() && Clock::now() >= wakeRetries_.front()) {
            wakeRetries_.erase(wakeRetries_.begin());
            nextRetry = look(Cause::Wake);
        } else if (ready == 0) {
            nextRetry = look(Cause::Retry);
        }
    }
}

void DrmDisplays::scheduleWakeRetries() {
    const auto now = Clock::now();
    wakeRetries_.clear();
    for (const auto after : timing_.wakeRetries) {
        wakeRetries_.push_back(now + after);
    }
}

std::optional<DrmDisplays::Clock::time_point> DrmDisplays::look(Cause cause) {
    const auto now = Clock::now();
    std::set<int> taken;
    std::vector<Kept> kept;
    std::optional<Clock::time_point> nextRetry;
    std::set<std::string> present;
    for (const auto& connector : scanConnectedConnectors(paths_.sysfsRoot)) {
        if (!mayBeExternal(connector)) {
            continue;
        }
        present.insert(connector.name);
        auto& remembered = verdicts_[connector.name];
        const auto basis = verdictBasis(connector);
        const bool due = now - remembered.triedAt >= timing_.retryInterval;
        const bool unanswered = !remembered.verdict.bus;
        // A bus an earlier connector took in this look is no longer this one's; after an event or
        // a resume, a shared bus may carry another display by now.
        const bool lost =
            !unanswered &&
            (taken.contains(*remembered.verdict.bus) ||
             (cause == Cause::Event && !probe_.stillCarries(connector, remembered.verdict)));
        if (remembered.basis != basis || lost || (unanswered && (cause != Cause::Retry || due))) {
            remembered.basis = basis;
            remembered.verdict = probe_.probe(connector, taken);
            remembered.triedAt = now;
        }
        const auto& verdict = remembered.verdict;
        if (verdict.bus) {
            taken.insert(*verdict.bus);
            kept.push_back({DdcBusProbe::displayName(connector, verdict),
                            probe_.busPath(*verdict.bus), displayIdentity(connector, verdict)});
            continue;
        }
        if (worthReporting(connector, verdict)) {
            const auto why = describeVerdict(verdict, paths_.deviceRoot);
            reports_->report(connector.name, why,
                             (connector.productName.empty() ? "" : connector.productName + ": ") +
                                 why);
        }
        const auto retry = remembered.triedAt + timing_.retryInterval;
        nextRetry = nextRetry ? std::min(*nextRetry, retry) : retry;
    }
    std::erase_if(verdicts_, [&](const auto& entry) { return !present.contains(entry.first); });
    std::lock_guard lock(mutex_);
    // Posted before the look counts, so that whoever waited for the look finds it queued.
    if (kept != kept_ && changeHandler_ && mainQueue_) {
        mainQueue_->async(changeHandler_);
    }
    kept_ = std::move(kept);
    ++looks_;
    looked_.notify_all();
    return nextRetry;
}

} // namespace varnu::linux_backend
