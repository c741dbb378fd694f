#include "platform/linux/devices-service/SeatSessions.h"

#include <systemd/sd-login.h>

namespace varnu::linux_backend::devices {
namespace {

class LogindSeat final : public SeatSessions {
public:
    LogindSeat(std::string seat, sd_login_monitor* monitor)
        : seat_(std::move(seat))
        , monitor_(monitor) {}
    ~LogindSeat() override {
        if (monitor_) {
            sd_login_monitor_unref(monitor_);
        }
    }

    // logind lists its seats under /run/systemd/seats; without it there are none.
    bool available() override { return sd_get_seats(nullptr) > 0; }

    SeatPresence presence(uid_t user) override {
        constexpr int kActiveOnly = 1;
        constexpr int kAnySession = 0;
        if (sd_uid_is_on_seat(user, kActiveOnly, seat_.c_str()) > 0) {
            return SeatPresence::Active;
        }
        return sd_uid_is_on_seat(user, kAnySession, seat_.c_str()) > 0 ? SeatPresence::Inactive
                                                                       : SeatPresence::Absent;
    }

    int changeFd() const override { return monitor_ ? sd_login_monitor_get_fd(monitor_) : -1; }
    void acknowledgeChange() override {
        if (monitor_) {
            sd_login_monitor_flush(monitor_);
        }
    }

private:
    std::string seat_;
    sd_login_monitor* monitor_;
};

} // namespace

std::unique_ptr<SeatSessions> openLogindSeat(std::string seat) {
    // Every category: a switch changes the seat's active session, a log-out the user's.
    sd_login_monitor* monitor = nullptr;
    if (sd_login_monitor_new(nullptr, &monitor) < 0) {
        monitor = nullptr;
    }
    return std::make_unique<LogindSeat>(std::move(seat), monitor);
}

} // namespace varnu::linux_backend::devices
