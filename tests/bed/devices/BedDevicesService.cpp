// varnu-devices as the bed runs it: the same server, with a seat the test plays through a pipe
// instead of logind. `--seat-script FD` names the pipe's reading end; each line on it says
// "UID active", "UID inactive" or "UID absent", or "no-logind". `--grab-retry-ms MS` and
// `--clone-announce-ms MS` shorten the keyboards' waits as the tap's tests do; `--dev PATH` is
// the display bed's folder of i2c-N nodes.

#include "platform/linux/devices-service/DevicesServiceMain.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using namespace varnu::linux_backend::devices;

class ScriptedSeat final : public SeatSessions {
public:
    explicit ScriptedSeat(int fd)
        : fd_(fd) {
        acknowledgeChange();
    }
    bool available() override { return available_; }
    SeatPresence presence(uid_t user) override {
        auto found = presence_.find(user);
        return found == presence_.end() ? SeatPresence::Absent : found->second;
    }
    int changeFd() const override { return fd_; }
    void acknowledgeChange() override {
        char buffer[256];
        ssize_t got = 0;
        while ((got = ::read(fd_, buffer, sizeof buffer)) > 0) {
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
        // The test that played the seat is gone; so is the service.
        if (got == 0) {
            ::_exit(0);
        }
        for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
            apply(std::string_view(pending_).substr(0, end));
            pending_.erase(0, end + 1);
        }
    }

private:
    void apply(std::string_view line) {
        if (line == "no-logind") {
            available_ = false;
            return;
        }
        uid_t user = 0;
        auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), user);
        std::string_view word(rest, static_cast<std::size_t>(line.data() + line.size() - rest));
        if (error != std::errc()) {
            return;
        }
        presence_[user] = word == " active"     ? SeatPresence::Active
                          : word == " inactive" ? SeatPresence::Inactive
                                                : SeatPresence::Absent;
    }

    int fd_;
    bool available_ = true;
    std::map<uid_t, SeatPresence> presence_;
    std::string pending_;
};

} // namespace

int main(int argc, char** argv) {
    int script = -1;
    HoldSettings hold;
    varnu::linux_backend::DrmPaths displays;
    std::vector<char*> arguments;
    for (int index = 0; index < argc; ++index) {
        std::string_view option = argv[index];
        if (index + 1 < argc) {
            if (option == "--seat-script") {
                script = std::atoi(argv[++index]);
                continue;
            }
            if (option == "--dev") {
                displays.deviceRoot = argv[++index];
                continue;
            }
            if (option == "--grab-retry-ms" || option == "--clone-announce-ms") {
                std::chrono::milliseconds wait{std::atoi(argv[++index])};
                (option == "--grab-retry-ms" ? hold.grabRetryInterval : hold.cloneAnnounceLimit) =
                    wait;
                continue;
            }
        }
        arguments.push_back(argv[index]);
    }
    return runDevicesService(
        static_cast<int>(arguments.size()), arguments.data(),
        [script](const std::string&) -> std::unique_ptr<SeatSessions> {
            return std::make_unique<ScriptedSeat>(script);
        },
        hold, displays);
}
