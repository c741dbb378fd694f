#pragma once

// The volume-key tap of a Varnu whose keyboards the device service holds: the service asks,
// the core decides on the main thread, the answer goes back over the connection.
// Implements: EventTap over DevicesConnection's key family: each question becomes the core's
// system-defined event on the main queue and its answer is sent back; a question the main
// thread reaches later than kLatestAnswer after it came is answered "pass" without the core
// (the service passes it on at 250 ms anyway, and the core must not act on a key the desktop
// also got); notices reach the core as events, the service's switch-off as the matching
// disable notification; a connection that ends is told to the core as the tap switched off
// (its re-enable asks for the keys again once the service welcomes Varnu back). Wants the keys
// while enabled, and not after it is gone.
// Does not implement: connecting (DevicesConnection, which its owner keeps alive), holding
// keyboards (the service).

#include "platform/Dispatch.h"
#include "platform/EventTap.h"
#include "platform/linux/devices-link/DevicesConnection.h"

#include <chrono>
#include <memory>

namespace varnu::linux_backend {

class ServiceKeyTap final : public EventTap {
public:
    static constexpr std::chrono::milliseconds kLatestAnswer{200};

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
