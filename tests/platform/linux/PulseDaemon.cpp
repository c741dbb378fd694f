#include "tests/platform/linux/PulseDaemon.h"

#include <chrono>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varnu::linux_backend::testing {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr int kPolls = 250; // five seconds

bool run(const std::string& command, std::string* output) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        return false;
    }
    std::string text;
    char buffer[4096];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) {
        text.append(buffer, count);
    }
    if (output) {
        *output = text.substr(0, text.find_last_not_of("\r\n") + 1);
    }
    return ::pclose(pipe) == 0;
}

} // namespace

bool PulseDaemon::available() {
    return run("command -v pulseaudio && command -v pactl", nullptr);
}

bool PulseDaemon::start(const std::vector<NullSink>& sinks) {
    const std::string root = dir_.path().string();
    std::string command = "HOME=" + root + " XDG_RUNTIME_DIR=" + root +
                          " exec pulseaudio -n --daemonize=no --system=false "
                          "--exit-idle-time=-1 --disallow-exit --disallow-module-loading=no "
                          "--use-pid-file=no --disable-shm=yes --realtime=no "
                          "--high-priority=no --log-target=stderr";
    // The sinks first, so that they exist once the socket answers.
    for (const auto& sink : sinks) {
        command += " -L \"module-null-sink sink_name=" + sink.name +
                   " sink_properties=\\\"device.description='" + sink.description + "'\\\"\"";
    }
    command += " -L \"module-native-protocol-unix auth-anonymous=1 socket=" + root + "/native\"" +
               " >" + root + "/daemon.log 2>&1";
    const pid_t parent = ::getpid();
    if (pid_ > 0 || (pid_ = ::fork()) < 0) {
        return false;
    }
    if (pid_ == 0) {
        // Only async-signal-safe calls from here on: the test process has threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() == parent) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        }
        ::_exit(127);
    }
    for (int poll = 0; poll < kPolls; ++poll) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        if (pactl("info")) {
            return true;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    stop();
    return false;
}

void PulseDaemon::stop(int signalNumber) {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, signalNumber);
    for (int poll = 0; poll < kPolls; ++poll) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

bool PulseDaemon::pactl(const std::string& arguments, std::string* output) const {
    const std::string root = dir_.path().string();
    return run("PULSE_SERVER=" + server() + " HOME=" + root + " XDG_RUNTIME_DIR=" + root +
                   " pactl " + arguments,
               output);
}

} // namespace varnu::linux_backend::testing
