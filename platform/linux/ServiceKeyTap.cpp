#include "platform/linux/ServiceKeyTap.h"

#include "platform/linux/devices-service/VolumeKeyStrokes.h"

#include <atomic>
#include <mutex>

namespace varnu::linux_backend {

using namespace devices;

// The tap's listener on the connection: lives as long as a job on the main queue or a call from
// the connection's thread needs it, and does nothing once the tap is gone.
class ServiceKeyTap::Link final : public DevicesListener,
                                  public std::enable_shared_from_this<Link> {
public:
    Link(const std::shared_ptr<DevicesConnection>& connection, std::shared_ptr<MainQueue> mainQueue,
         EventTapCallback callback)
        : connection_(connection)
        , mainQueue_(std::move(mainQueue))
        , callback_(std::move(callback)) {}

    void want(bool wanted) {
        wanted_ = wanted;
        send(TapWanted{wanted});
    }

    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }

    void received(const ServiceMessage& message) override {
        if (auto* question = std::get_if<Question>(&message)) {
            auto asked = std::chrono::steady_clock::now();
            onMain([question = *question, asked](Link& link) {
                auto decision = TapDecision::Pass;
                const std::chrono::milliseconds within{question.answerWithinMs};
                if (std::chrono::steady_clock::now() - asked < within - kAnswerMargin) {
                    decision = link.callback_({kCGEventSystemDefined, eventOf(question.stroke)});
                }
                link.send(Answer{question.id, decision == TapDecision::Swallow});
            });
        } else if (auto* notice = std::get_if<Notice>(&message)) {
            onMain([stroke = notice->stroke](Link& link) {
                link.callback_({kCGEventSystemDefined, eventOf(stroke)});
            });
        } else if (auto* off = std::get_if<TapSwitchedOff>(&message)) {
            tellSwitchedOff(off->cause == SwitchOffCause::Timeout ? kCGEventTapDisabledByTimeout
                                                                  : kCGEventTapDisabledByUserInput);
        }
    }

    void linkChanged(const LinkState& state, DevicesConnection& connection) override {
        bool welcomed = state.phase == LinkState::Phase::Welcomed;
        if (welcomed == welcomed_.exchange(welcomed)) {
            return;
        }
        if (welcomed) {
            connection.send(TapWanted{wanted_});
        } else {
            // The service let go of the keyboards; the core switches the tap back on, and the
            // keys are asked for again once the service is back.
            tellSwitchedOff(kCGEventTapDisabledByUserInput);
        }
    }

private:
    void send(const ClientMessage& message) {
        if (auto connection = connection_.lock()) {
            connection->send(message);
        }
    }

    template <typename Job>
    void onMain(Job job) {
        mainQueue_->async([weak = weak_from_this(), job = std::move(job)] {
            auto link = weak.lock();
            if (!link || link->isClosed()) {
                return;
            }
            job(*link);
        });
    }

    void tellSwitchedOff(CGEventType type) {
        onMain([type](Link& link) { link.callback_({type, std::nullopt}); });
    }

    bool isClosed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

    // Weakly, and locked only on the main thread: a connection must never end on its own thread.
    std::weak_ptr<DevicesConnection> connection_;
    std::shared_ptr<MainQueue> mainQueue_;
    EventTapCallback callback_;
    std::atomic<bool> wanted_{true};
    std::atomic<bool> welcomed_{false};
    std::mutex mutex_;
    bool closed_ = false;
};

ServiceKeyTap::ServiceKeyTap(std::shared_ptr<DevicesConnection> connection,
                             std::shared_ptr<MainQueue> mainQueue, EventTapCallback callback)
    : link_(std::make_shared<Link>(connection, std::move(mainQueue), std::move(callback))) {
    connection->listen(Family::Keys, link_);
    // A connection that is welcomed already does not say so again.
    link_->linkChanged(connection->state(), *connection);
}

ServiceKeyTap::~ServiceKeyTap() {
    link_->close();
    link_->want(false);
}

void ServiceKeyTap::enable(bool enabled) {
    link_->want(enabled);
}

} // namespace varnu::linux_backend
