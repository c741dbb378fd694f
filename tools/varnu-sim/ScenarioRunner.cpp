#include "tools/varnu-sim/ScenarioRunner.h"

#include "app/VolumeKeys.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <string>

namespace varnu::sim {

namespace {

// Thrown inside the runner only, to end a command with a message; never crosses its boundary.
struct CommandError {
    std::string message;
};

[[noreturn]] void fail(std::string message) {
    throw CommandError{std::move(message)};
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseReal(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used != text.size() || !std::isfinite(value)) {
            return std::nullopt;
        }
        return value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Virtual time still runs every timer due on the way, and far larger numbers would not fit in
// milliseconds.
constexpr double kLongestWaitSeconds = 24 * 60 * 60;

class Player {
public:
    explicit Player(ScenarioWorld& world)
        : world_(world) {}

    void play(const ScenarioCommand& command) {
        command_ = &command;
        static const std::map<std::string, void (Player::*)()> handlers{
            {"output", &Player::output},
            {"unplug", &Player::unplug},
            {"default", &Player::defaultOutput},
            {"disconnect", &Player::disconnect},
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
    const std::vector<ScenarioWord>& args() const { return command_->arguments; }

    void expectCount(std::size_t minimum, std::size_t maximum) const {
        if (args().size() < minimum || args().size() > maximum) {
            fail(command_->name + ": wrong number of arguments");
        }
    }

    const std::string& word(std::size_t index) const { return args().at(index).text; }

    std::int64_t integer(std::size_t index) const {
        if (auto value = parseInteger(word(index))) {
            return *value;
        }
        fail(command_->name + ": \"" + word(index) + "\" is not an integer");
    }

    double real(std::size_t index) const {
        if (auto value = parseReal(word(index))) {
            return *value;
        }
        fail(command_->name + ": \"" + word(index) + "\" is not a number");
    }

    bool choice(std::size_t index, const std::string& yes, const std::string& no) const {
        if (word(index) == yes) {
            return true;
        }
        if (word(index) == no) {
            return false;
        }
        fail(command_->name + ": expected " + yes + " or " + no);
    }

    void requireRunning() const {
        if (!world_.isLaunched()) {
            fail(command_->name + ": Varnu has not been launched");
        }
        if (world_.hasQuit()) {
            fail(command_->name + ": Varnu has quit");
        }
    }

    std::uint16_t vcpValue(const std::string& text) const {
        auto value = parseInteger(text);
        if (!value || *value < 0 || *value > 0xFFFF) {
            fail("monitor: \"" + text + "\" is not a 16-bit value");
        }
        return static_cast<std::uint16_t>(*value);
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

    void monitor() {
        if (args().empty()) {
            fail("monitor: expected a product name");
        }
        MonitorOptions options;
        for (std::size_t i = 1; i < args().size(); ++i) {
            const auto& option = word(i);
            const auto equals = option.find('=');
            const std::string name = option.substr(0, equals);
            const std::string value = equals == std::string::npos ? "" : option.substr(equals + 1);
            if (option == "internal") {
                options.internal = true;
            } else if (option == "no-osd") {
                options.noOSD = true;
            } else if (option == "refuse-writes") {
                options.refuseWrites = true;
            } else if (option == "refuse-reads") {
                options.refuseReads = true;
            } else if (option == "corrupt-replies") {
                options.corruptReplies = true;
            } else if (name == "volume" && equals != std::string::npos) {
                options.volume = vcpValue(value);
            } else if (name == "max" && equals != std::string::npos) {
                options.maximum = vcpValue(value);
            } else if (name == "mute" && equals != std::string::npos) {
                options.mute = vcpValue(value);
            } else if (name == "osd" && equals != std::string::npos) {
                options.osd = vcpValue(value);
            } else {
                fail("monitor: unknown option \"" + option + "\"");
            }
        }
        world_.addMonitor(word(0), options);
    }

    void store() {
        expectCount(2, 2);
        const auto& value = args()[1];
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
        for (const auto& argument : args()) {
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
        KeyPress press;
        // A held key repeats about 30 times a second.
        std::int64_t times = 1;
        std::chrono::milliseconds every{33};
        if (word(0) == "up") {
            press.keyCode = kKeyTypeSoundUp;
        } else if (word(0) == "down") {
            press.keyCode = kKeyTypeSoundDown;
        } else if (word(0) == "mute") {
            press.keyCode = kKeyTypeMute;
        } else {
            fail("key: expected up, down or mute");
        }
        for (std::size_t i = 1; i < args().size(); ++i) {
            const auto& modifier = word(i);
            if (modifier == "shift") {
                press.shift = true;
            } else if (modifier == "option") {
                press.option = true;
            } else if (modifier == "control") {
                press.control = true;
            } else if (modifier == "release") {
                press.release = true;
            } else if (modifier.starts_with("times=")) {
                const auto value = parseInteger(modifier.substr(6));
                if (!value || *value < 1) {
                    fail("key: bad number of times");
                }
                times = *value;
            } else if (modifier.starts_with("every=")) {
                const auto value = parseReal(modifier.substr(6));
                if (!value || *value <= 0 || *value > kLongestWaitSeconds) {
                    fail("key: bad interval");
                }
                every = std::chrono::milliseconds(std::llround(*value * 1000));
            } else {
                fail("key: unknown modifier \"" + modifier + "\"");
            }
        }
        for (std::int64_t count = 0; count < times; ++count) {
            if (count > 0) {
                world_.wait(every);
            }
            world_.key(press);
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

    ScenarioWorld& world_;
    const ScenarioCommand* command_ = nullptr;
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
