#pragma once

// The external displays the kernel's DRM drivers expose, each with the I2C bus its DDC/CI
// answered on.
// Implements: DisplayEnumerator from a kept list that a worker thread maintains: it looks at
// sysfs when it starts and after every udev "drm" or "i2c-dev" event, finds each connected
// external display's bus (DrmConnectorScan, DdcBusProbe), and remembers the verdict per
// connector while the connector's EDID and candidate buses stay the same; the verdicts of
// connectors that went are dropped. After an event and after the system resumes from sleep
// (logind's PrepareForSleep signal), a display found on a bus its card or GPU shares is checked
// to be still there by its EDID, since docks renumber or swap their buses meanwhile; a display
// on a bus of its connector's own costs no bus traffic. A display that did not answer is not
// listed, so its volume keys stay with the desktop; it is tried again a few times in the
// seconds after a resume or an event (a display waking up stays silent for a while), after the
// next event, and otherwise once per retry interval while it stays connected. Why a display is
// missing is reported once per connector and reason. A look that changed the list posts the
// change handler to the main queue.
// An internal connector (eDP, LVDS, DSI) counts only when its EDID names a monitor and it then
// answers; a bus of a GPU without connectors only when it holds a monitor's EDID. Neither is
// reported when it does not.
// Does not implement: DDC/CI over panels' own backlight interfaces, displays of drivers without
// DRM connectors other than NVIDIA's.

#include "platform/Dispatch.h"
#include "platform/DisplayEnumerator.h"
#include "platform/Pause.h"
#include "platform/linux/displays/DdcBusProbe.h"
#include "platform/linux/displays/I2cDevReports.h"
#include "platform/linux/displays/I2cTransport.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnu::linux_backend {

struct DrmPaths {
    std::string sysfsRoot = "/sys/class/drm";
    std::string deviceRoot = "/dev";
    // The D-Bus address logind's signals come on; empty for the system bus.
    std::string loginBus = {};
};

struct DrmDisplaysTiming {
    // How often a connected display that never answered is tried again.
    std::chrono::milliseconds retryInterval{std::chrono::minutes(1)};
    // How long the worker lets a burst of hot-plug events settle (a dock brings several
    // connectors and buses one after another) before it looks.
    std::chrono::milliseconds settleDelay{300};
    // When, after a resume or a hot-plug event, the displays that did not answer are tried again.
    std::vector<std::chrono::milliseconds> wakeRetries{
        std::chrono::seconds(2), std::chrono::seconds(5), std::chrono::seconds(10),
        std::chrono::seconds(15)};
};

class DrmDisplays final : public DisplayEnumerator {
public:
    // Starts the worker, which looks at once. Changes are posted to the main queue; without
    // one nobody is told. Problems go to the diagnostics stream, once per bus or connector and
    // cause; null keeps quiet.
    explicit DrmDisplays(
        std::shared_ptr<MainQueue> mainQueue = nullptr, DrmPaths paths = {},
        DrmDisplaysTiming timing = {},
        std::shared_ptr<I2cTransport> transport = std::make_shared<SystemI2cTransport>(),
        std::shared_ptr<Pause> pause = nullptr, std::ostream* diagnostics = &std::cerr);
    // Stops the worker; waits for a look in progress, which bus timeouts bound.
    ~DrmDisplays() override;
    DrmDisplays(const DrmDisplays&) = delete;
    DrmDisplays& operator=(const DrmDisplays&) = delete;

    // The displays that answered, in connector order, from the kept list: no sysfs, no bus.
    std::vector<ExternalDisplay> externalDisplays() override;
    void setChangeHandler(std::function<void()> handler) override;

    // How many looks the worker has finished, and a bounded wait for the next one, so that a
    // caller that needs a settled picture (a tool, a test) can have one.
    std::uint64_t looks() const;
    bool waitForLooks(std::uint64_t count, std::chrono::milliseconds timeout) const;

private:
    struct Kept {
        std::string productName;
        std::string busPath;
        std::string identity;
        bool operator==(const Kept&) const = default;
    };
    struct Remembered {
        // What the verdict holds for: the connector's EDID and candidate buses.
        std::string basis;
        ConnectorVerdict verdict;
        std::chrono::steady_clock::time_point triedAt;
    };
    using Clock = std::chrono::steady_clock;
    enum class Cause {
        Event, // the start, a hot-plug event or a resume: all that did not answer, and whether
               // the buses that answered still carry their displays
        Retry, // the retry interval: those that did not answer whose retry is due
        Wake,  // a wake retry: all that did not answer
    };

    void run(std::stop_token stop);
    // Looks at sysfs and probes what the cause calls for, and what it has no verdict for.
    // Answers when the next retry is due, if any.
    std::optional<Clock::time_point> look(Cause cause);
    void scheduleWakeRetries();

    std::shared_ptr<MainQueue> mainQueue_;
    DrmPaths paths_;
    DrmDisplaysTiming timing_;
    std::shared_ptr<I2cTransport> transport_;
    std::shared_ptr<I2cDevReports> reports_;
    DdcBusProbe probe_;
    // Worker only: the verdicts by connector, and the wake retries still to come.
    std::map<std::string, Remembered> verdicts_;
    std::vector<Clock::time_point> wakeRetries_;

    mutable std::mutex mutex_;
    mutable std::condition_variable looked_;
    std::vector<Kept> kept_;
    std::uint64_t looks_ = 0;
    std::function<void()> changeHandler_;

    int wakeFd_;
    std::jthread worker_;
};

} // namespace varnu::linux_backend
