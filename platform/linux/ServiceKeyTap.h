#pragma once

// The volume-key tap of a Varnu whose keyboards the device service holds: the service asks,
// the core decides on the main thread, the answer goes back over the connection.
// Implements: EventTap over DevicesConnection's key family: each question becomes the core's
// system-defined event on the main queue and its answer is sent back; a question the main
// thread reaches with less than kAnswerMargin left of the time the service gave it is answered
// "pass" without the core (the service passes the key on when that time is up, and the core
// must not act on a key the desktop also got); notices reach the core as events, the service's
// switch-off as the matching disable notification; a connection that ends is told to the core as
// the tap switched off (its re-enable asks for the keys again once the service welcomes Varnu
// back). Wants the keys while enabled, and not after it is gone. Does not implement: connecting
// (DevicesConnection, which its owner keeps alive), holding keyboards (the service).

#include "platform/Dispatch.h"
#include "platform/EventTap.h"
#include "platform/linux/devices-link/DevicesConnection.h"

#include <chrono>
#include <memory>

namespace varnu::linux_backend {

class ServiceKeyTap final : public EventTap {
public:
    // For the answer's way back to the service.
    static constexpr std::chrono::milliseconds kAnswerMargin{50};

    ServiceKeyTap(std::shared_ptr<devices::DevicesConnection> connection,
                  std::shared_ptr<MainQueue> mainQueue, EventTapCallback callback);
    ~ServiceKeyTap() override;
    ServiceKeyTap(const ServiceKeyTap&) = delete;
    ServiceKeyTap& operator=(const ServiceKeyTap&) = delete;

    void enable(bool enabled) override;

private:
    class Link;
    std::shared_ptr<Link> link_;
};

} // namespace varnu::linux_backend
