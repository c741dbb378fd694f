#include "tests/platform/linux/PulseDaemon.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varnu::linux_backend::testing {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

std::optional<std::filesystem::path> findInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) {
            continue;
        }
        auto candidate = std::filesystem::path(dir) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

// argv/envp as the exec functions want them; the strings must outlive the call.
std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

bool socketAnswers(const std::filesystem::path& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

std::optional<std::filesystem::path> PulseDaemon::binary() {
    return findInPath("pulseaudio");
}

std::optional<std::filesystem::path> PulseDaemon::controlBinary() {
    return findInPath("pactl");
}

PulseDaemon::PulseDaemon() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnu-pulse-XXXXXX").string();
    if (::mkdtemp(pattern.data())) {
        root_ = pattern;
        std::filesystem::create_directories(root_ / "run");
        std::filesystem::create_directories(root_ / "home");
        std::filesystem::permissions(root_ / "run", std::filesystem::perms::owner_all);
    }
}

PulseDaemon::~PulseDaemon() {
    stop();
    std::error_code ec;
    if (!root_.empty()) {
        std::filesystem::remove_all(root_, ec);
    }
}

std::string PulseDaemon::server() const {
    return "unix:" + (root_ / "native").string();
}

std::string PulseDaemon::log() const {
    std::ifstream stream(root_ / "daemon.log");
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

bool PulseDaemon::start(const std::vector<NullSink>& sinks) {
    const auto program = binary();
    if (!program || root_.empty() || running()) {
        return false;
    }
    const auto socketPath = root_ / "native";
    std::vector<std::string> arguments{program->string(),
                                       "-n",
                                       "--daemonize=no",
                                       "--system=false",
                                       "--exit-idle-time=-1",
                                       "--disallow-exit",
                                       "--disallow-module-loading=no",
                                       "--use-pid-file=no",
                                       "--disable-shm=yes",
                                       "--realtime=no",
                                       "--high-priority=no",
                                       "--log-target=stderr"};
    // The sinks first, so that they exist once the socket answers.
    for (const auto& sink : sinks) {
        arguments.push_back("-L");
        arguments.push_back("module-null-sink sink_name=" + sink.name +
                            " sink_properties=\"device.description='" + sink.description + "'\"");
    }
    arguments.push_back("-L");
    arguments.push_back("module-native-protocol-unix auth-anonymous=1 socket=" +
                        socketPath.string());
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment{"HOME=" + (root_ / "home").string(),
                                         "XDG_RUNTIME_DIR=" + (root_ / "run").string(),
                                         std::string("PATH=") + (path ? path : "/usr/bin:/bin")};
    auto argv = pointers(arguments);
    auto envp = pointers(environment);
    const int logFd =
        ::open((root_ / "daemon.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        if (logFd >= 0) {
            ::close(logFd);
        }
        return false;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on: the test process has threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(126);
        }
        if (logFd >= 0) {
            ::dup2(logFd, STDOUT_FILENO);
            ::dup2(logFd, STDERR_FILENO);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (logFd >= 0) {
        ::close(logFd);
    }
    pid_ = child;
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (socketAnswers(socketPath)) {
            return true;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    stop();
    return false;
}

void PulseDaemon::stop() {
    reap(SIGTERM);
}

void PulseDaemon::kill() {
    reap(SIGKILL);
}

void PulseDaemon::reap(int signalNumber) {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, signalNumber);
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    pid_ = -1;
}

bool PulseDaemon::pactl(const std::vector<std::string>& arguments, std::string* output) const {
    const auto program = controlBinary();
    if (!program) {
        return false;
    }
    std::vector<std::string> argv{program->string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment{"PULSE_SERVER=" + server(),
                                         "HOME=" + (root_ / "home").string(),
                                         "XDG_RUNTIME_DIR=" + (root_ / "run").string()};
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(environment);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, argvPointers[0], &actions, nullptr,
                                      argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(pipeFds[0]);
    if (spawned != 0) {
        return false;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (output) {
        *output = text;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace varnu::linux_backend::testing
