#include "tools/varnu-sim/ScenarioRunner.h"

#include "tools/varnu-sim/ScenarioArguments.h"

#include <chrono>
#include <cmath>
#include <map>
#include <string>

namespace varnu::sim {

namespace {

class Player {
public:
    explicit Player(ScenarioWorld& world)
        : world_(world) {}

    void play(const ScenarioCommand& command) {
        command_ = &command;
        arguments_.emplace(command);
        static const std::map<std::string, void (Player::*)()> handlers{
            {"output", &Player::output},
            {"unplug", &Player::unplug},
            {"default", &Player::defaultOutput},
            {"disconnect", &Player::disconnect},
            {"buttons", &Player::buttons},
            {"monitor", &Player::monitor},
            {"store", &Player::store},
            {"languages", &Player::languages},
            {"trusted", &Player::trusted},
            {"login", &Player::login},
            {"screen", &Player::screen},
            {"mouse", &Player::mouse},
            {"launch", &Player::launch},
            {"key", &Player::key},
            {"tap-off", &Player::tapOff},
            {"wait", &Player::wait},
            {"menu", &Player::menu},
            {"menu-choose", &Player::menuChoose},
            {"settings", &Player::settings},
            {"user", &Player::user},
            {"grant", &Player::grant},
            {"reopen", &Player::reopen},
            {"quit", &Player::quit},
        };
        auto it = handlers.find(command.name);
        if (it == handlers.end()) {
            fail("unknown command \"" + command.name + "\"");
        }
        (this->*(it->second))();
    }

private:
    void requireRunning() const {
        if (!world_.isLaunched()) {
            fail(command_->name + ": Varnu has not been launched");
        }
        if (world_.hasQuit()) {
            fail(command_->name + ": Varnu has quit");
        }
    }

    void output() {
        if (args().size() < 2) {
            fail("output: expected a UID and a name");
        }
        bool native = false;
        std::uint32_t channels = 2;
        for (std::size_t i = 2; i < args().size(); ++i) {
            const auto& option = word(i);
            if (option == "native") {
                native = true;
            } else if (option.starts_with("channels=")) {
                auto value = parseInteger(option.substr(9));
                if (!value || *value < 0 || *value > 64) {
                    fail("output: bad channel count");
                }
                channels = static_cast<std::uint32_t>(*value);
            } else {
                fail("output: unknown option \"" + option + "\"");
            }
        }
        world_.addOutput(word(0), word(1), native, channels);
    }

    void unplug() {
        expectCount(1, 1);
        if (!world_.unplug(word(0))) {
            fail("unplug: no output \"" + word(0) + "\"");
        }
    }

    void defaultOutput() {
        expectCount(1, 1);
        if (!world_.setDefaultOutput(word(0))) {
            fail("default: no output \"" + word(0) + "\"");
        }
    }

    void disconnect() {
        expectCount(1, 1);
        if (!world_.disconnect(word(0))) {
            fail("disconnect: no connected monitor \"" + word(0) + "\"");
        }
    }

    void buttons() {
        expectCount(2, 2);
        const auto& setting = word(1);
        const auto level =
            setting.starts_with("volume=") ? parseInteger(setting.substr(7)) : std::nullopt;
        if (!level || *level < 0 || *level > 0xFFFF) {
            fail("buttons: expected volume=N, N a 16-bit value");
        }
        if (!world_.turn(word(0), static_cast<std::uint16_t>(*level))) {
            fail("buttons: no connected monitor \"" + word(0) + "\"");
        }
    }

    void monitor() {
        if (args().empty()) {
            fail("monitor: expected a product name");
        }
        world_.addMonitor(word(0), args().monitorOptions());
    }

    void store() {
        expectCount(2, 2);
        const auto& value = args().all()[1];
        if (value.quoted) {
            world_.store(word(0), value.text);
        } else if (value.text == "true" || value.text == "false") {
            world_.store(word(0), value.text == "true");
        } else if (auto integerValue = parseInteger(value.text)) {
            world_.store(word(0), *integerValue);
        } else if (auto realValue = parseReal(value.text)) {
            world_.store(word(0), *realValue);
        } else {
            fail("store: a text value must be in double quotes");
        }
    }

    void languages() {
        std::vector<std::string> list;
        for (const auto& argument : args().all()) {
            list.push_back(argument.text);
        }
        world_.setLanguages(std::move(list));
    }

    void trusted() {
        expectCount(1, 1);
        world_.setTrusted(choice(0, "yes", "no"));
    }

    void login() {
        expectCount(1, 2);
        if (word(0) == "ok") {
            world_.setLogin(SimLoginItem::Outcome::Succeeds, {});
        } else if (word(0) == "approval") {
            world_.setLogin(SimLoginItem::Outcome::NeedsApproval, {});
        } else if (word(0) == "fails" && args().size() == 2) {
            world_.setLogin(SimLoginItem::Outcome::Fails, word(1));
        } else {
            fail("login: expected ok, approval or fails \"DESCRIPTION\"");
        }
    }

    void screen() {
        expectCount(4, 4);
        world_.addScreen(Rect{real(0), real(1), real(2), real(3)});
    }

    void mouse() {
        expectCount(2, 2);
        world_.setMouse(Point{real(0), real(1)});
    }

    void launch() {
        expectCount(0, 0);
        if (world_.isLaunched()) {
            fail("launch: Varnu is already running");
        }
        world_.launch();
    }

    void key() {
        if (args().empty()) {
            fail("key: expected up, down or mute");
        }
        if (world_.hasQuit()) {
            fail("key: Varnu has quit");
        }
        const auto held = args().keyPress();
        for (std::int64_t count = 0; count < held.times; ++count) {
            if (count > 0) {
                world_.wait(held.every);
            }
            world_.key(held.press);
        }
    }

    void tapOff() {
        expectCount(1, 1);
        requireRunning();
        world_.switchTapOff(choice(0, "timeout", "user-input"));
    }

    void wait() {
        expectCount(1, 1);
        const double seconds = real(0);
        if (seconds < 0) {
            fail("wait: the time cannot go backwards");
        }
        if (seconds > kLongestWaitSeconds) {
            fail("wait: at most a day at a time");
        }
        world_.wait(std::chrono::milliseconds(std::llround(seconds * 1000)));
    }

    void menu() {
        expectCount(0, 0);
        requireRunning();
        world_.openMenu();
    }

    void menuChoose() {
        expectCount(1, 1);
        requireRunning();
        if (!world_.chooseMenuItem(word(0))) {
            fail("menu-choose: no item \"" + word(0) + "\"");
        }
    }

    void settings() {
        expectCount(0, 0);
        requireRunning();
        world_.showSettings();
    }

    void user() {
        if (args().empty()) {
            fail("user: expected set, select, autostart or open-accessibility");
        }
        requireRunning();
        const auto& action = word(0);
        if (action == "set") {
            expectCount(3, 3);
            const auto& setting = word(1);
            if (setting == "step") {
                world_.setStep(integer(2));
            } else if (setting == "showHUD") {
                world_.setShowHUD(choice(2, "true", "false"));
            } else if (setting == "hideMonitorOSD") {
                world_.setHideMonitorOSD(choice(2, "true", "false"));
            } else if (setting == "language") {
                world_.setLanguage(word(2));
            } else {
                fail("user set: unknown setting \"" + setting + "\"");
            }
        } else if (action == "select") {
            expectCount(2, 2);
            world_.selectOutput(word(1));
        } else if (action == "autostart") {
            expectCount(2, 2);
            world_.setAutostart(choice(1, "on", "off"));
        } else if (action == "open-accessibility") {
            expectCount(1, 1);
            world_.openAccessibility();
        } else {
            fail("user: unknown action \"" + action + "\"");
        }
    }

    void grant() {
        expectCount(0, 0);
        world_.grant();
    }

    void reopen() {
        expectCount(0, 0);
        requireRunning();
        world_.reopen();
    }

    void quit() {
        expectCount(0, 0);
        requireRunning();
        world_.quit();
    }

    const CommandArguments& args() const { return *arguments_; }
    void expectCount(std::size_t minimum, std::size_t maximum) const {
        args().expectCount(minimum, maximum);
    }
    const std::string& word(std::size_t index) const { return args().word(index); }
    std::int64_t integer(std::size_t index) const { return args().integer(index); }
    double real(std::size_t index) const { return args().real(index); }
    bool choice(std::size_t index, const std::string& yes, const std::string& no) const {
        return args().choice(index, yes, no);
    }

    ScenarioWorld& world_;
    const ScenarioCommand* command_ = nullptr;
    std::optional<CommandArguments> arguments_;
};

} // namespace

std::optional<ScenarioError> playCommands(const std::vector<ScenarioCommand>& commands,
                                          ScenarioWorld& world) {
    Player player(world);
    for (const auto& command : commands) {
        try {
            player.play(command);
        } catch (const CommandError& error) {
            return ScenarioError{command.line, error.message};
        }
        if (auto jump = world.takeJump()) {
            return ScenarioError{command.line, std::move(*jump), true};
        }
    }
    return std::nullopt;
}

std::optional<ScenarioError> playScenario(std::string_view text, std::ostream& trace,
                                          const std::string& systemName) {
    auto parsed = parseScenario(text);
    if (parsed.error) {
        return parsed.error;
    }
    ScenarioWorld world(trace, systemName);
    return playCommands(parsed.commands, world);
}

} // namespace varnu::sim
