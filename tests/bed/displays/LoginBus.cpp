#include "tests/bed/displays/LoginBus.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>

namespace varnu::bed {

LoginBus::LoginBus() {
    const char* parent = std::getenv("VARNU_BED_DIR");
    std::string pattern = std::string(parent ? parent : "/tmp") + "/bus-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        return;
    }
    folder_ = pattern;
    const auto socket = folder_ + "/bus";
    const auto listen = "--address=unix:path=" + socket;
    // Quiet: as root in a container it complains that it may not raise its file limit.
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    daemon_ = ::fork();
    if (daemon_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(quiet, STDERR_FILENO);
        ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
                 listen.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(quiet);
    for (int poll = 0; poll < 250 && daemon_ > 0; ++poll) {
        if (std::filesystem::exists(socket)) {
            address_ = "unix:path=" + socket;
            return;
        }
        if (::waitpid(daemon_, nullptr, WNOHANG) != 0) {
            daemon_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

LoginBus::~LoginBus() {
    if (daemon_ > 0) {
        ::kill(daemon_, SIGTERM);
        ::waitpid(daemon_, nullptr, 0);
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool LoginBus::resume() {
    sd_bus* bus = nullptr;
    const bool sent =
        !address_.empty() && sd_bus_new(&bus) >= 0 &&
        sd_bus_set_address(bus, address_.c_str()) >= 0 && sd_bus_set_bus_client(bus, 1) >= 0 &&
        sd_bus_start(bus) >= 0 &&
        sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                           "PrepareForSleep", "b", 0) >= 0 &&
        sd_bus_flush(bus) >= 0;
    sd_bus_flush_close_unref(bus);
    return sent;
}

} // namespace varnu::bed
