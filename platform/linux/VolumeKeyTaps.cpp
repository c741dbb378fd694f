#include "platform/linux/VolumeKeyTaps.h"

#include "platform/linux/ServiceKeyTap.h"
#include "platform/linux/input/InputDeviceList.h"
#include "platform/linux/input/InputPermissions.h"

#include <array>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace varnu::linux_backend {
namespace {

using devices::ClientStanding;
using devices::LinkState;
using devices::RefusalReason;
using Phase = LinkState::Phase;

bool exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

// A process of this user as a person can find it: its program's path (else its name) and its
// pid. A name is the program's own choice, so control characters are not kept.
std::string describeProcess(std::uint32_t pid) {
    const std::string folder = "/proc/" + std::to_string(pid);
    std::array<char, 512> link{};
    auto length = ::readlink((folder + "/exe").c_str(), link.data(), link.size() - 1);
    std::string program =
        length > 0 ? std::string(link.data(), static_cast<std::size_t>(length)) : std::string();
    if (program.empty()) {
        std::ifstream comm(folder + "/comm");
        std::getline(comm, program);
    }
    for (auto& each : program) {
        each = static_cast<unsigned char>(each) < 0x20 || each == 0x7F ? '?' : each;
    }
    return (program.empty() ? "" : program + " ") + "(pid " + std::to_string(pid) + ")";
}

} // namespace

VolumeKeyTaps::VolumeKeyTaps(std::shared_ptr<MainQueue> mainQueue, VolumeKeyTapSettings settings,
                             std::ostream* diagnostics)
    : mainQueue_(mainQueue)
    , settings_(std::move(settings))
    , diagnostics_(diagnostics)
    , local_(std::move(mainQueue), settings_.local, diagnostics) {}

void VolumeKeyTaps::choose() {
    if (route_) {
        return;
    }
    route_ = Route::Local;
    if (!exists(settings_.socketPath)) {
        localReason_ = "no device service is installed (no socket at " + settings_.socketPath + ")";
        return;
    }
    // The keys' words are read on the main thread, where the answers are made.
    connection_ =
        devices::DevicesConnection::open(settings_.socketPath, settings_.retries, mainQueue_);
    if (!connection_) {
        localReason_ = "the device service cannot be reached (no eventfd)";
        return;
    }
    auto state = connection_->waitForGreeting(settings_.firstAnswer);
    if (state.phase == Phase::Refused && state.final) {
        localReason_ = state.refusal == RefusalReason::NoLoginManager
                           ? "the device service serves no one without systemd-logind"
                           : "the device service speaks another protocol version (Varnu and "
                             "varnu-devices come from different installs)";
        connection_.reset();
        return;
    }
    route_ = Route::Service;
}

VolumeKeyTaps::Path VolumeKeyTaps::servicePath(const LinkState& state) const {
    Path path{Route::Service, state.phase == Phase::Welcomed, {}};
    const std::string service = "Varnu's device service (" + settings_.socketPath + ")";
    const auto served =
        state.servedProcess != 0 && state.servedProcess != static_cast<std::uint32_t>(::getpid())
            ? describeProcess(state.servedProcess)
            : std::string();
    switch (state.phase) {
    case Phase::Welcomed:
        if (state.standing == ClientStanding::OtherClientServed) {
            path.why = service + " gives the volume keys to " + served +
                       ", another program of this user that asked for them first, not to Varnu";
        } else if (!served.empty()) {
            path.why = service + " holds the keyboards for " + served +
                       ", a program of this user, and asks it about each volume key";
        } else {
            path.why = service + " holds the keyboards and asks Varnu about each volume key";
        }
        break;
    case Phase::Connecting:
        path.why = service + " has not answered yet";
        break;
    case Phase::Unreachable:
        path.why = service + " does not answer: sudo systemctl restart varnu-devices.socket";
        break;
    case Phase::Refused:
        path.why = state.refusal == RefusalReason::TooManyClients
                       ? service + " takes no more connections of this user now; Varnu keeps "
                                   "trying"
                       : service + " serves only the user whose session is in front of the seat, "
                                   "and this user has no session there";
        break;
    }
    return path;
}

VolumeKeyTaps::Path VolumeKeyTaps::path() {
    choose();
    if (*route_ == Route::Service) {
        return servicePath(connection_->state());
    }
    auto access = checkInputAccess(keyEventDevices(), settings_.local.uinput, FileAccess::system());
    return {Route::Local, access.granted(),
            "Varnu reads the keyboards itself, which needs the input group: " + localReason_};
}

std::shared_ptr<devices::DevicesConnection> VolumeKeyTaps::serviceConnection() {
    choose();
    // The displays' own, read on its thread: transfers go on while the main thread waits for
    // one (at quit) or hangs.
    if (connection_ && !displaysConnection_) {
        displaysConnection_ =
            devices::DevicesConnection::open(settings_.socketPath, settings_.retries);
    }
    return displaysConnection_;
}

bool VolumeKeyTaps::isProcessTrusted(bool prompt) {
    choose();
    if (*route_ == Route::Local) {
        return local_.isProcessTrusted(prompt);
    }
    auto path = servicePath(connection_->state());
    if (!path.ready && prompt && !prompted_ && diagnostics_) {
        prompted_ = true;
        *diagnostics_ << "varnu: cannot catch the volume keys: " << path.why << '\n';
    }
    return path.ready;
}

std::unique_ptr<EventTap> VolumeKeyTaps::createTap(std::uint32_t location, std::uint32_t placement,
                                                   std::uint32_t options,
                                                   CGEventMask eventsOfInterest,
                                                   EventTapCallback callback) {
    choose();
    if (*route_ == Route::Local) {
        return local_.createTap(location, placement, options, eventsOfInterest,
                                std::move(callback));
    }
    // The service asks only about volume keys, which come as system-defined events.
    if ((eventsOfInterest & eventMaskBit(kCGEventSystemDefined)) == 0) {
        return nullptr;
    }
    return std::make_unique<ServiceKeyTap>(connection_, mainQueue_, std::move(callback));
}

std::optional<LocalizedText> VolumeKeyTaps::sharedAccessNotice() {
    choose();
    // Without the service, the user holds these devices anyway; root holds everything.
    if (*route_ != Route::Service || ::geteuid() == 0) {
        return std::nullopt;
    }
    return otherDeviceAccessNotice(
        otherDeviceAccess(HeldDevices::All, FileAccess::system(), {}, &ruleFiles_));
}

std::optional<LocalizedText> VolumeKeyTaps::keysTakenElsewhere() {
    choose();
    if (*route_ != Route::Service) {
        return std::nullopt;
    }
    auto state = connection_->state();
    if (state.phase != Phase::Welcomed || state.standing != ClientStanding::OtherClientServed) {
        return std::nullopt;
    }
    const auto who = describeProcess(state.servedProcess);
    return LocalizedText{
        "Another program of yours, " + who +
            ", gets the volume keys from Varnu's device service, since it asked for them first. "
            "Quit it, and Varnu gets them.",
        "Ein anderes Programm Ihres Benutzers, " + who +
            ", bekommt die Lautstärketasten von Varnus Gerätedienst, weil es zuerst danach "
            "gefragt hat. Beenden Sie es, dann bekommt Varnu sie."};
}

std::optional<LocalizedText> VolumeKeyTaps::missingAccessAdvice() {
    choose();
    if (*route_ == Route::Service) {
        auto state = connection_->state();
        if (state.phase == Phase::Refused && state.refusal == RefusalReason::NotAtSeat) {
            return LocalizedText{
                "Varnu's device service serves only the user whose session is in front of the "
                "screen, and this session is not (a remote or background login).",
                "Varnus Gerätedienst bedient nur den Benutzer, dessen Sitzung vorn am Bildschirm "
                "ist, und diese Sitzung ist es nicht (eine entfernte oder Hintergrund-Anmeldung)."};
        }
        return LocalizedText{
            "Varnu's device service does not answer. Restart it: sudo systemctl restart "
            "varnu-devices.socket",
            "Varnus Gerätedienst antwortet nicht. Starten Sie ihn neu: sudo systemctl restart "
            "varnu-devices.socket"};
    }
    auto access = checkInputAccess(keyEventDevices(), settings_.local.uinput, FileAccess::system());
    if (!access.unreadableKeyboards.empty()) {
        return LocalizedText{
            "Without Varnu's package, Varnu reads the keyboards itself, which needs your user in "
            "the input group: sudo usermod -aG input $USER, then log out and in. Installing the "
            "package instead needs no group.",
            "Ohne Varnus Paket liest Varnu die Tastaturen selbst; dafür muss Ihr Benutzer in der "
            "Gruppe input sein: sudo usermod -aG input $USER, danach ab- und wieder anmelden. "
            "Mit dem Paket ist keine Gruppe nötig."};
    }
    return LocalizedText{
        "Varnu cannot create the virtual keyboard it passes keys on through: load uinput (sudo "
        "modprobe uinput) and install the udev rules for the input group.",
        "Varnu kann die virtuelle Tastatur nicht anlegen, über die es Tasten weitergibt: uinput "
        "laden (sudo modprobe uinput) und die udev-Regeln für die Gruppe input installieren."};
}

} // namespace varnu::linux_backend
