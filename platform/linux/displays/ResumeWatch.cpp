#include "platform/linux/displays/ResumeWatch.h"

#include <systemd/sd-bus.h>

namespace varnu::linux_backend {
namespace {

constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";
constexpr const char* kPrepareForSleep = "PrepareForSleep";

} // namespace

std::unique_ptr<ResumeWatch> ResumeWatch::open(const std::string& address) {
    sd_bus* bus = nullptr;
    int result = 0;
    if (address.empty()) {
        result = sd_bus_open_system(&bus);
    } else if ((result = sd_bus_new(&bus)) >= 0 &&
               (result = sd_bus_set_address(bus, address.c_str())) >= 0 &&
               (result = sd_bus_set_bus_client(bus, 1)) >= 0) {
        result = sd_bus_start(bus);
    }
    if (result < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    std::unique_ptr<ResumeWatch> watch(new ResumeWatch(bus));
    const auto onSignal = [](sd_bus_message* message, void* userdata, sd_bus_error*) -> int {
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) >= 0 && !sleeping) {
            static_cast<ResumeWatch*>(userdata)->resumed_ = true;
        }
        return 0;
    };
    if (sd_bus_match_signal(bus, nullptr, nullptr, kLoginPath, kLoginManager, kPrepareForSleep,
                            onSignal, watch.get()) < 0) {
        return nullptr;
    }
    // What arrived while the match was set up is read already, so the connection would not
    // wait for more until it is handled.
    watch->resumed();
    return watch;
}

ResumeWatch::ResumeWatch(sd_bus* bus)
    : bus_(bus) {}

ResumeWatch::~ResumeWatch() {
    sd_bus_flush_close_unref(bus_);
}

int ResumeWatch::fd() const {
    return broken_ ? -1 : sd_bus_get_fd(bus_);
}

short ResumeWatch::events() const {
    const int events = broken_ ? 0 : sd_bus_get_events(bus_);
    return static_cast<short>(events < 0 ? 0 : events);
}

bool ResumeWatch::resumed() {
    int result = 0;
    while (!broken_ && (result = sd_bus_process(bus_, nullptr)) > 0) {
    }
    broken_ = broken_ || result < 0;
    const bool resumed = resumed_;
    resumed_ = false;
    return resumed;
}

} // namespace varnu::linux_backend
