#include "platform/linux/input/LoginSession.h"

#include <cstdlib>
#include <string>
#include <systemd/sd-login.h>
#include <unistd.h>

namespace varnu::linux_backend {
namespace {

class AlwaysActiveSession final : public LoginSession {
public:
    bool isActive() override { return true; }
    int changeFd() const override { return -1; }
    void acknowledgeChange() override {}
};

class LogindSession final : public LoginSession {
public:
    LogindSession(std::string id, sd_login_monitor* monitor)
        : id_(std::move(id))
        , monitor_(monitor) {}
    ~LogindSession() override { sd_login_monitor_unref(monitor_); }

    // A session logind cannot answer for keeps the keys, as without logind.
    bool isActive() override { return sd_session_is_active(id_.c_str()) != 0; }
    int changeFd() const override { return sd_login_monitor_get_fd(monitor_); }
    void acknowledgeChange() override { sd_login_monitor_flush(monitor_); }

private:
    std::string id_;
    sd_login_monitor* monitor_;
};

// A process outside any login session (started by the user's service manager, as desktops
// often start programs) follows its user: active while a session of the user's is the one in
// front of the seat.
class UserOnSeat final : public LoginSession {
public:
    explicit UserOnSeat(sd_login_monitor* monitor)
        : monitor_(monitor) {}
    ~UserOnSeat() override { sd_login_monitor_unref(monitor_); }

    bool isActive() override {
        constexpr int kActiveOnly = 1;
        return sd_uid_is_on_seat(::getuid(), kActiveOnly, kSeat) > 0;
    }
    int changeFd() const override { return sd_login_monitor_get_fd(monitor_); }
    void acknowledgeChange() override { sd_login_monitor_flush(monitor_); }

private:
    static constexpr const char* kSeat = "seat0";
    sd_login_monitor* monitor_;
};

} // namespace

std::unique_ptr<LoginSession> openLoginSession() {
    char* session = nullptr;
    bool inSession = sd_pid_get_session(0, &session) >= 0 && session;
    std::string id = inSession ? session : "";
    std::free(session);
    // Without logind there are no seats to follow.
    if (!inSession && sd_get_seats(nullptr) <= 0) {
        return std::make_unique<AlwaysActiveSession>();
    }
    // Outside a session, every category: a switch changes the seat, a log-out the user.
    sd_login_monitor* monitor = nullptr;
    if (sd_login_monitor_new(inSession ? "session" : nullptr, &monitor) < 0) {
        return std::make_unique<AlwaysActiveSession>();
    }
    if (!inSession) {
        return std::make_unique<UserOnSeat>(monitor);
    }
    return std::make_unique<LogindSession>(std::move(id), monitor);
}

} // namespace varnu::linux_backend
