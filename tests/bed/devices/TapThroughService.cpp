// The keyboard bed's tap through the device service: varnu-devices started as a child on the
// same bed, the session the test switches played as the service's seat, what the service
// reports read into the bed's diagnostics, and Varnu's own client tap asking it.

#include "platform/linux/VolumeKeyTaps.h"
#include "tests/bed/devices/DevicesBed.h"
#include "tests/bed/input/KeyboardBed.h"

#include <fcntl.h>
#include <unistd.h>

namespace varnu::bed {
namespace {

constexpr std::chrono::milliseconds kReadReportsEvery{5};

class TapThroughService final : public EventTap {
public:
    TapThroughService(KeyboardBed& machine, std::ostream& diagnostics,
                      const BedTapSettings& settings, EventTapCallback callback)
        : session_(machine.session) {
        auto presence = [](bool active) { return active ? "active" : "inactive"; };
        devices_.seat({{::getuid(), presence(session_.isActive())}});
        session_.whenSwitched([this, presence](bool active) {
            devices_.seat({{::getuid(), presence(active)}});
        });
        int reports[2];
        if (::pipe2(reports, O_CLOEXEC | O_NONBLOCK) == 0) {
            reports_ = reports[0];
            devices_.startService(
                {"--grab-retry-ms", std::to_string(settings.grabRetryInterval.count()),
                 "--clone-announce-ms", std::to_string(settings.cloneAnnounceLimit.count())},
                reports[1]);
            ::close(reports[1]);
        }
        readReports_ = machine.mainQueue->scheduleRepeatingTimer(
            kReadReportsEvery, [fd = reports_, &out = diagnostics] {
                char text[512];
                for (ssize_t got; (got = ::read(fd, text, sizeof text)) > 0;) {
                    out.write(text, got);
                }
            });
        linux_backend::VolumeKeyTapSettings keys;
        keys.socketPath = devices_.socketPath();
        taps_ =
            std::make_unique<linux_backend::VolumeKeyTaps>(machine.mainQueue, keys, &diagnostics);
        tap_ = taps_->createTap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                                eventMaskBit(kCGEventSystemDefined), std::move(callback));
    }

    ~TapThroughService() override {
        tap_.reset();
        taps_.reset();
        session_.whenSwitched(nullptr);
        readReports_->cancel();
        devices_.stopService(SIGTERM);
        ::close(reports_);
    }

    void enable(bool enabled) override { tap_->enable(enabled); }

private:
    // A copy that shares the test's session.
    SwitchableSession session_;
    DevicesBed devices_;
    int reports_ = -1;
    std::shared_ptr<Cancellable> readReports_;
    std::unique_ptr<linux_backend::VolumeKeyTaps> taps_;
    std::unique_ptr<EventTap> tap_;
};

} // namespace

std::unique_ptr<EventTap> makeBedTap(KeyboardBed& machine, std::ostream& diagnostics,
                                     const BedTapSettings& settings, EventTapCallback callback) {
    return std::make_unique<TapThroughService>(machine, diagnostics, settings, std::move(callback));
}

bool bedTapGoesThroughService() {
    return true;
}

} // namespace varnu::bed
