#include "tests/bed/input/KeyboardBed.h"

#include <linux/input.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varnu::bed {
namespace {

using std::chrono::milliseconds;

std::set<std::uint16_t> typingKeys() {
    std::set<std::uint16_t> keys{KEY_ESC,       KEY_ENTER,      KEY_SPACE,    KEY_BACKSPACE,
                                 KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTCTRL, KEY_LEFTALT,
                                 KEY_LEFTMETA,  KEY_CAPSLOCK};
    for (std::uint16_t code = KEY_Q; code <= KEY_P; ++code) {
        keys.insert(code);
    }
    for (std::uint16_t code = KEY_A; code <= KEY_L; ++code) {
        keys.insert(code);
    }
    for (std::uint16_t code = KEY_Z; code <= KEY_M; ++code) {
        keys.insert(code);
    }
    return keys;
}

// A keyboard with its scan codes, lock lights and driver repeat after the given delay.
EvdevDescription typingKeyboard(unsigned repeatDelay) {
    EvdevDescription keyboard;
    keyboard.codes[EV_KEY] = typingKeys();
    keyboard.codes[EV_MSC] = {MSC_SCAN};
    keyboard.codes[EV_LED] = {LED_NUML, LED_CAPSL, LED_SCROLLL};
    keyboard.repeat = {{repeatDelay, 33}};
    keyboard.udevProperties = {"ID_INPUT_KEY=1", "ID_INPUT_KEYBOARD=1"};
    return keyboard;
}

} // namespace

EvdevDescription laptopKeyboard() {
    auto keyboard = typingKeyboard(250);
    keyboard.name = "AT Translated Set 2 keyboard";
    keyboard.phys = "isa0060/serio0/input0";
    keyboard.id = {BUS_I8042, 0x0001, 0x0001, 0xab83};
    keyboard.parent = "/devices/platform/i8042/serio0";
    keyboard.codes[EV_KEY].insert({KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE});
    return keyboard;
}

EvdevDescription usbKeyboard() {
    auto keyboard = typingKeyboard(500);
    keyboard.name = "Logitech USB Keyboard";
    keyboard.phys = "usb-0000:00:14.0-2/input0";
    keyboard.uniq = "";
    keyboard.id = {BUS_USB, 0x046d, 0xc31c, 0x0110};
    keyboard.parent = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:046D:C31C.0001";
    return keyboard;
}

EvdevDescription usbConsumerControl() {
    EvdevDescription control;
    control.name = "Logitech USB Keyboard Consumer Control";
    control.phys = "usb-0000:00:14.0-2/input1";
    control.id = {BUS_USB, 0x046d, 0xc31c, 0x0110};
    control.parent = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.1/0003:046D:C31C.0002";
    control.codes[EV_KEY] = {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE, KEY_PLAYPAUSE, KEY_NEXTSONG};
    control.codes[EV_REL] = {REL_HWHEEL};
    control.codes[EV_ABS] = {ABS_VOLUME};
    control.codes[EV_MSC] = {MSC_SCAN};
    control.udevProperties = {"ID_INPUT_KEY=1"};
    return control;
}

EvdevDescription hotkeysWithTabletSwitch() {
    EvdevDescription hotkeys;
    hotkeys.name = "Intel HID events";
    hotkeys.parent = "/devices/platform/INT33D5:00";
    hotkeys.id = {BUS_HOST, 0, 0, 0};
    hotkeys.codes[EV_KEY] = {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE, KEY_POWER};
    hotkeys.codes[EV_SW] = {SW_TABLET_MODE};
    hotkeys.udevProperties = {"ID_INPUT_KEY=1", "ID_INPUT_SWITCH=1"};
    return hotkeys;
}

EvdevDescription mouseWithVolumeKeys() {
    EvdevDescription mouse;
    mouse.name = "Logitech MX Master 3";
    mouse.phys = "usb-0000:00:14.0-3/input2:1";
    mouse.id = {BUS_USB, 0x046d, 0x4082, 0x0111};
    mouse.parent = "/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.2/0003:046D:4082.0003";
    mouse.codes[EV_KEY] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, KEY_VOLUMEUP, KEY_VOLUMEDOWN};
    mouse.codes[EV_REL] = {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL};
    mouse.udevProperties = {"ID_INPUT_KEY=1", "ID_INPUT_MOUSE=1"};
    return mouse;
}

EvdevDescription keyboardWithTouchpad() {
    auto keyboard = typingKeyboard(400);
    keyboard.name = "Logitech K400 Plus";
    keyboard.phys = "usb-0000:00:14.0-4/input2:1";
    keyboard.id = {BUS_USB, 0x046d, 0x404d, 0x0111};
    keyboard.parent = "/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.2/0003:046D:404D.0004";
    keyboard.codes[EV_KEY].insert({KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE, BTN_LEFT, BTN_RIGHT});
    keyboard.codes[EV_REL] = {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL};
    keyboard.udevProperties.push_back("ID_INPUT_MOUSE=1");
    return keyboard;
}

EvdevDescription touchpadWithVolumeKeys() {
    EvdevDescription touchpad;
    touchpad.name = "SYNA3602:00 0911:5288 Touchpad";
    touchpad.parent = "/devices/platform/AMDI0010:01/i2c-1/i2c-SYNA3602:00/0018:0911:5288.0005";
    touchpad.id = {BUS_I2C, 0x0911, 0x5288, 0x0100};
    touchpad.codes[EV_KEY] = {BTN_LEFT, BTN_TOOL_FINGER, BTN_TOUCH, KEY_VOLUMEUP, KEY_VOLUMEDOWN};
    touchpad.codes[EV_ABS] = {ABS_X, ABS_Y, ABS_MT_SLOT, ABS_MT_POSITION_X, ABS_MT_POSITION_Y};
    touchpad.properties = {INPUT_PROP_POINTER, INPUT_PROP_BUTTONPAD};
    touchpad.udevProperties = {"ID_INPUT_KEY=1", "ID_INPUT_TOUCHPAD=1"};
    return touchpad;
}

SwitchableSession::SwitchableSession()
    : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SwitchableSession::~SwitchableSession() {
    ::close(fd_);
}

void SwitchableSession::acknowledgeChange() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = ::read(fd_, &count, sizeof count);
}

void SwitchableSession::setActive(bool active) {
    active_ = active;
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(fd_, &one, sizeof one);
}

KeyboardBed::KeyboardBed() {
    uinput.plug();
}

KeyboardBed::~KeyboardBed() {
    stopTap();
    uinput.finishAnnouncements();
    // The handlers stop before the devices they answer for go.
    bed.reset();
}

EmulatedEvdevDevice& KeyboardBed::plug(EvdevDescription description, bool announce) {
    auto& device = *devices_.emplace_back(
        std::make_unique<EmulatedEvdevDevice>(*bed, std::move(description), nextNumber_++));
    device.plug(announce);
    return device;
}

void KeyboardBed::startTap(std::chrono::milliseconds grabRetryInterval,
                           std::chrono::milliseconds cloneAnnounceLimit) {
    tap = createTap(grabRetryInterval, cloneAnnounceLimit);
}

std::unique_ptr<EventTap> KeyboardBed::startAnotherTap() {
    return createTap(milliseconds(3000), milliseconds(2000));
}

std::unique_ptr<EventTap> KeyboardBed::createTap(std::chrono::milliseconds grabRetryInterval,
                                                 std::chrono::milliseconds cloneAnnounceLimit) {
    linux_backend::EvdevTapPaths paths;
    paths.loginSession = [session = session]() -> std::unique_ptr<linux_backend::LoginSession> {
        struct Shared final : linux_backend::LoginSession {
            std::shared_ptr<SwitchableSession> session;
            bool isActive() override { return session->isActive(); }
            int changeFd() const override { return session->changeFd(); }
            void acknowledgeChange() override { session->acknowledgeChange(); }
        };
        auto shared = std::make_unique<Shared>();
        shared->session = session;
        return shared;
    };
    paths.grabRetryInterval = grabRetryInterval;
    paths.cloneAnnounceLimit = cloneAnnounceLimit;
    linux_backend::EvdevEventTapService service(mainQueue, paths, &diagnostics);
    // Like the core: a tap switched off is switched on again at once.
    return service.createTap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                             eventMaskBit(kCGEventSystemDefined), [this](const TappedEvent& event) {
                                 if (event.type >= kCGEventTapDisabledByTimeout) {
                                     switchedOff.push_back(event.type);
                                     tap->enable(true);
                                     return TapDecision::Pass;
                                 }
                                 heard.push_back(event);
                                 return decide ? decide(event) : TapDecision::Pass;
                             });
}

void KeyboardBed::stopTap() {
    tap.reset();
}

bool KeyboardBed::until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    // The emulated devices change without a job on the main queue, so look again every few ms.
    constexpr milliseconds kLookAgain{5};
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        mainQueue->pumpFor(kLookAgain);
    }
    return true;
}

void KeyboardBed::pumpFor(std::chrono::milliseconds duration) {
    mainQueue->pumpFor(duration);
}

std::optional<VirtualDevice> KeyboardBed::clone(const std::string& name) const {
    for (auto& device : uinput.devices()) {
        if (device.created && !device.destroyed && device.description.name == name) {
            return device;
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::uint16_t, std::int32_t>>
KeyboardBed::keysOf(const std::string& name) const {
    std::vector<std::pair<std::uint16_t, std::int32_t>> keys;
    if (auto device = clone(name)) {
        for (const auto& event : device->events) {
            if (event.type == EV_KEY) {
                keys.emplace_back(event.code, event.value);
            }
        }
    }
    return keys;
}

int KeyboardBed::clonesNamed(const std::string& name) const {
    int count = 0;
    for (auto& device : uinput.devices()) {
        count += device.created && device.description.name == name ? 1 : 0;
    }
    return count;
}

} // namespace varnu::bed
