#include "platform/linux/input/LoginSession.h"

#include <cstdlib>
#include <string>
#include <systemd/sd-login.h>

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

} // namespace

std::unique_ptr<LoginSession> openLoginSession() {
    char* session = nullptr;
    if (sd_pid_get_session(0, &session) < 0 || !session) {
        return std::make_unique<AlwaysActiveSession>();
    }
    std::string id = session;
    std::free(session);
    sd_login_monitor* monitor = nullptr;
    if (sd_login_monitor_new("session", &monitor) < 0) {
        return std::make_unique<AlwaysActiveSession>();
    }
    return std::make_unique<LogindSession>(std::move(id), monitor);
}

} // namespace varnu::linux_backend
