#pragma once

// The volume-key tap over evdev and uinput.
// Implements: EventTapService. The trust check (the keyboards' event devices can be read and
// /dev/uinput written); a tap that grabs every device with volume keys once none of its keys is
// down, re-emits everything it does not swallow through a uinput clone of that device (events
// the desktop received before the grab are not re-sent), forwards LED changes back, follows
// hot-plug and change events through udev, drops vanished devices quietly and resynchronises
// after dropped events. A grab another program holds is retried on the device's udev events and
// every grabRetryInterval. While the login session is not the active one, no device is read or
// grabbed. Job-control signals cannot stop the process while the tap exists. The decisions run
// on the main queue; the keyboards never wait longer than VolumeKeyFilter::kDecisionTimeout for
// them. A reader that fails reports the tap switched off; enabling it again starts a new one.
// Does not implement: tap locations, placements or options (there is one kind of tap), events
// other than the system-defined ones of the three volume keys, a permission dialog (the prompt
// prints one line to stderr). Never stores, prints or logs a key code or keystroke.

#include "platform/Dispatch.h"
#include "platform/EventTap.h"
#include "platform/linux/input/LoginSession.h"

#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

namespace varnu::linux_backend {

struct EvdevTapPaths {
    std::string uinput = "/dev/uinput";
    std::string helpPage; // empty: the installed permissions page
    std::function<std::unique_ptr<LoginSession>()> loginSession = openLoginSession;
    std::chrono::milliseconds grabRetryInterval{3000};
    std::chrono::milliseconds cloneAnnounceLimit{2000};
};

class EvdevEventTapService final : public EventTapService {
public:
    explicit EvdevEventTapService(std::shared_ptr<MainQueue> mainQueue, EvdevTapPaths paths = {},
                                  std::ostream* diagnostics = &std::cerr);

    bool isProcessTrusted(bool prompt) override;
    std::unique_ptr<EventTap> createTap(std::uint32_t location, std::uint32_t placement,
                                        std::uint32_t options, CGEventMask eventsOfInterest,
                                        EventTapCallback callback) override;

private:
    std::shared_ptr<MainQueue> mainQueue_;
    EvdevTapPaths paths_;
    std::ostream* diagnostics_;
    bool prompted_ = false;
};

} // namespace varnu::linux_backend
