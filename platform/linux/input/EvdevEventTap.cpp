#include "platform/linux/input/EvdevEventTap.h"

#include "platform/linux/files/PermissionsHelp.h"
#include "platform/linux/input/InputDeviceList.h"
#include "platform/linux/input/InputPermissions.h"
#include "platform/linux/input/JobControlImmunity.h"
#include "platform/linux/input/MainQueueCallbackChannel.h"
#include "platform/linux/input/TapDevices.h"
#include "platform/linux/input/TapReader.h"

#include <fcntl.h>
#include <unistd.h>

namespace varnu::linux_backend {
namespace {

class EvdevTap final : public EventTap {
public:
    static std::unique_ptr<EvdevTap> start(std::shared_ptr<MainQueue> mainQueue,
                                           EventTapCallback callback, bool deliversSystemDefined,
                                           const EvdevTapPaths& paths, std::ostream* diagnostics);
    ~EvdevTap() override;

    void enable(bool enabled) override;

private:
    explicit EvdevTap(std::ostream* diagnostics)
        : reporter_(diagnostics) {}
    void startReader();

    JobControlImmunity jobControlImmunity_;
    OnceReporter reporter_;
    std::unique_ptr<TapReader> reader_;
    std::unique_ptr<MainQueueCallbackChannel> channel_;
    std::unique_ptr<TapDevices> devices_;
};

std::unique_ptr<EvdevTap> EvdevTap::start(std::shared_ptr<MainQueue> mainQueue,
                                          EventTapCallback callback, bool deliversSystemDefined,
                                          const EvdevTapPaths& paths, std::ostream* diagnostics) {
    // Without uinput nothing could be passed on, so nothing is grabbed either.
    int uinput = ::open(paths.uinput.c_str(), O_RDWR | O_CLOEXEC);
    if (uinput < 0) {
        return nullptr;
    }
    ::close(uinput);
    std::unique_ptr<EvdevTap> tap(new EvdevTap(diagnostics));
    tap->reader_ = TapReader::create(paths.loginSession ? paths.loginSession() : openLoginSession(),
                                     tap->reporter_);
    if (!tap->reader_) {
        return nullptr;
    }
    auto* reader = tap->reader_.get();
    tap->channel_ = std::make_unique<MainQueueCallbackChannel>(
        std::move(mainQueue), std::move(callback), [reader] { reader->wake(); });
    tap->devices_ = std::make_unique<TapDevices>(
        TapDeviceSettings{paths.uinput, paths.grabRetryInterval, paths.cloneAnnounceLimit},
        *tap->channel_, deliversSystemDefined, tap->reporter_);
    tap->startReader();
    return tap;
}

EvdevTap::~EvdevTap() {
    // The reader stops first: the devices are its own while it runs.
    reader_.reset();
    if (channel_) {
        channel_->close();
    }
    devices_.reset();
}

void EvdevTap::enable(bool enabled) {
    // The core's answer to the switched-off notice after a failed reader: a fresh one.
    if (enabled && reader_->failed()) {
        startReader();
    }
    devices_->filter().setEnabled(enabled);
}

void EvdevTap::startReader() {
    // The core hears that the tap is off, so that it switches it back on.
    reader_->start(*devices_, [this] {
        channel_->tell({kCGEventTapDisabledByUserInput, std::nullopt});
    });
}

} // namespace

EvdevEventTapService::EvdevEventTapService(std::shared_ptr<MainQueue> mainQueue,
                                           EvdevTapPaths paths, std::ostream* diagnostics)
    : mainQueue_(std::move(mainQueue))
    , paths_(std::move(paths))
    , diagnostics_(diagnostics) {
    if (paths_.helpPage.empty()) {
        paths_.helpPage = std::string(kPermissionsHelpPage);
    }
}

bool EvdevEventTapService::isProcessTrusted(bool prompt) {
    auto access = checkInputAccess(keyEventDevices(), paths_.uinput, FileAccess::system());
    if (!access.granted() && prompt && !prompted_ && diagnostics_) {
        prompted_ = true;
        *diagnostics_ << "varnu: "
                      << describeMissingAccess(access, paths_.uinput, paths_.helpPage).value_or("")
                      << '\n';
    }
    return access.granted();
}

std::unique_ptr<EventTap> EvdevEventTapService::createTap(std::uint32_t /*location*/,
                                                          std::uint32_t /*placement*/,
                                                          std::uint32_t /*options*/,
                                                          CGEventMask eventsOfInterest,
                                                          EventTapCallback callback) {
    bool deliversSystemDefined = (eventsOfInterest & eventMaskBit(kCGEventSystemDefined)) != 0;
    return EvdevTap::start(mainQueue_, std::move(callback), deliversSystemDefined, paths_,
                           diagnostics_);
}

} // namespace varnu::linux_backend
