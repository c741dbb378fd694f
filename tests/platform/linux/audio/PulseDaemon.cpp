#include "tests/platform/linux/audio/PulseDaemon.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varnu::linux_backend::testing {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr int kPolls = 500; // ten seconds

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

std::string nullSinkArguments(const NullSink& sink) {
    return "module-null-sink sink_name=" + sink.name + " sink_properties=\"device.description='" +
           sink.description + "'\"";
}

// For a string in double quotes, in the shell as in PipeWire's configuration files.
std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            result += '\\';
        }
        result += c;
    }
    return result + '"';
}

// Whether a server listens on this socket; a crashed one leaves its file behind.
bool accepts(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = path.string();
    if (name.size() >= sizeof address.sun_path) {
        return false;
    }
    name.copy(address.sun_path, name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Whether the process has ended and is reaped, waiting up to ten seconds.
bool awaitExit(pid_t pid) {
    for (int poll = 0; poll < kPolls; ++poll) {
        const pid_t result = ::waitpid(pid, nullptr, WNOHANG);
        if (result == pid || result < 0) {
            return true;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return false;
}

// Only what null sinks, the default sink and the pulse protocol need: no hardware monitors,
// no realtime scheduling, nothing that wants a session bus.
constexpr const char* kPipeWireConfiguration = R"(
context.properties = { core.daemon = true core.name = pipewire-0 }
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver priority.driver = 20000 } }
]
)";

// The session manager is what chooses the default sink and applies "set-default-sink"; the
// pulse server alone only stores the wish.
constexpr const char* kWirePlumberConfiguration = R"(
context.properties = { wireplumber.script-engine = lua-scripting }
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-session-manager }
]
wireplumber.components = [
    { name = libwireplumber-module-lua-scripting, type = module }
    { name = main.lua, type = config/lua }
    { name = policy.lua, type = config/lua }
]
)";

// WirePlumber quits when the ALSA device reservation or the Flatpak portal cannot reach a
// session bus.
constexpr const char* kWirePlumberHeadless = R"(
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
)";

} // namespace

std::string serverName(PulseServer server) {
    return server == PulseServer::PipeWire ? "PipeWire" : "PulseAudio";
}

bool PulseDaemon::available(PulseServer server) {
    return run(server == PulseServer::PipeWire
                   ? "command -v pipewire && command -v pipewire-pulse && command -v wireplumber "
                     "&& command -v pactl"
                   : "command -v pulseaudio && command -v pactl",
               nullptr);
}

std::filesystem::path PulseDaemon::socket() const {
    return kind_ == PulseServer::PipeWire ? dir_.path() / "pulse" / "native"
                                          : dir_.path() / "native";
}

std::string PulseDaemon::environment() const {
    // Nothing of the caller's session: not its audio server, not its bus, not its display.
    const std::string root = dir_.path().string();
    return "env -i PATH=\"$PATH\" HOME=" + root + " XDG_RUNTIME_DIR=" + root;
}

bool PulseDaemon::spawn(const std::string& program, const std::string& log) {
    const std::string command =
        "exec " + environment() + " " + program + " >" + (dir_.path() / log).string() + " 2>&1";
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on: the test process has threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() == parent) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        }
        ::_exit(127);
    }
    pids_.push_back(pid);
    return true;
}

bool PulseDaemon::running() {
    const auto ended = std::remove_if(pids_.begin(), pids_.end(), [](pid_t pid) {
        return ::waitpid(pid, nullptr, WNOHANG) != 0;
    });
    const bool all = ended == pids_.end();
    pids_.erase(ended, pids_.end());
    return all;
}

bool PulseDaemon::ready(const std::vector<NullSink>& sinks) const {
    std::string listed;
    std::string chosen;
    if (!pactl("list short sinks", &listed) || !pactl("get-default-sink", &chosen)) {
        return false;
    }
    const auto isListed = [&](const NullSink& sink) {
        return listed.find('\t' + sink.name + '\t') != std::string::npos;
    };
    return std::all_of(sinks.begin(), sinks.end(), isListed) &&
           (sinks.empty() || std::any_of(sinks.begin(), sinks.end(), [&](const NullSink& sink) {
                return sink.name == chosen;
            }));
}

void PulseDaemon::writePipeWireConfiguration(const std::vector<NullSink>& sinks) const {
    const auto& root = dir_.path();
    writeText(root / "pipewire.conf", kPipeWireConfiguration);
    writeText(root / "wireplumber.conf", kWirePlumberConfiguration);
    writeText(root / ".config/wireplumber/main.lua.d/80-headless.lua", kWirePlumberHeadless);
    std::string pulse = "context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert "
                        "support.* = support/libspa-support }\n"
                        "context.modules = [\n"
                        "    { name = libpipewire-module-protocol-native }\n"
                        "    { name = libpipewire-module-client-node }\n"
                        "    { name = libpipewire-module-adapter }\n"
                        "    { name = libpipewire-module-metadata }\n"
                        "    { name = libpipewire-module-protocol-pulse\n"
                        "      args = { server.address = [ \"unix:" +
                        socket().string() + "\" ] } }\n]\npulse.cmd = [\n";
    for (const auto& sink : sinks) {
        pulse += "    { cmd = \"load-module\" args = " + quoted(nullSinkArguments(sink)) + " }\n";
    }
    writeText(root / "pipewire-pulse.conf", pulse + "]\n");
}

bool PulseDaemon::start(const std::vector<NullSink>& sinks) {
    if (!pids_.empty()) {
        return false;
    }
    const std::string root = dir_.path().string();
    const auto published = dir_.path() / "native";
    if (kind_ == PulseServer::PulseAudio) {
        std::string command =
            "pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --disallow-exit "
            "--disallow-module-loading=no --use-pid-file=no --disable-shm=yes --realtime=no "
            "--high-priority=no --log-target=stderr";
        // The sinks first, so that they exist once the socket answers.
        for (const auto& sink : sinks) {
            command += " -L " + quoted(nullSinkArguments(sink));
        }
        command +=
            " -L \"module-native-protocol-unix auth-anonymous=1 socket=" + published.string() +
            "\"";
        if (!spawn(command, "pulseaudio.log")) {
            return false;
        }
    } else {
        // PipeWire adds the sinks and picks the default a while after its socket answers, so
        // the socket is published under server() only once they are there.
        std::error_code ignored;
        std::filesystem::remove(published, ignored);
        std::filesystem::create_directories(socket().parent_path());
        writePipeWireConfiguration(sinks);
        if (!spawn("pipewire -c " + root + "/pipewire.conf", "pipewire.log")) {
            return false;
        }
        const auto core = dir_.path() / "pipewire-0";
        for (int poll = 0; poll < kPolls && running() && !accepts(core); ++poll) {
            std::this_thread::sleep_for(kPollInterval);
        }
        if (!spawn("wireplumber -c " + root + "/wireplumber.conf", "wireplumber.log")) {
            stop();
            return false;
        }
        sessionManager_ = pids_.back();
        if (!spawn("pipewire-pulse -c " + root + "/pipewire-pulse.conf", "pipewire-pulse.log")) {
            stop();
            return false;
        }
    }
    for (int poll = 0; poll < kPolls; ++poll) {
        if (!running()) {
            stop(SIGKILL);
            return false;
        }
        if (ready(sinks)) {
            if (kind_ == PulseServer::PipeWire) {
                std::filesystem::create_symlink(socket(), published);
            }
            return true;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    stop();
    return false;
}

void PulseDaemon::stop(int signalNumber) {
    // The pulse server first, the PipeWire daemon it talks to last.
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) {
        ::kill(*pid, signalNumber);
        ::kill(*pid, SIGCONT);
    }
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) {
        if (!awaitExit(*pid)) {
            ::kill(*pid, SIGKILL);
            ::waitpid(*pid, nullptr, 0);
        }
    }
    pids_.clear();
    sessionManager_ = -1;
}

bool PulseDaemon::holdSessionManager(bool held) {
    return sessionManager_ > 0 && ::kill(sessionManager_, held ? SIGSTOP : SIGCONT) == 0;
}

bool PulseDaemon::pactl(const std::string& arguments, std::string* output) const {
    // A server that accepts but never answers must fail the test, not hang it.
    return run(environment() + " PULSE_SERVER=unix:" + socket().string() + " timeout 10 pactl " +
                   arguments,
               output);
}

std::string PulseDaemon::log() const {
    std::string text;
    for (const char* name :
         {"pulseaudio.log", "pipewire.log", "wireplumber.log", "pipewire-pulse.log"}) {
        const auto path = dir_.path() / name;
        if (std::filesystem::exists(path)) {
            text += std::string("== ") + name + "\n" + readText(path);
        }
    }
    return text;
}

} // namespace varnu::linux_backend::testing
