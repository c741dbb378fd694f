#include "tests/bed/input/KeyboardBed.h"

#include <linux/input.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varnu::bed {
namespace {

using std::chrono::milliseconds;

const std::string kUsbPort = "/devices/pci0000:00/0000:00:14.0/usb1/";

// A keyboard with its scan codes, lock lights and driver repeat after the given delay.
EvdevDescription typing(EvdevDescription keyboard, unsigned repeatDelay) {
    // Escape to Caps Lock: the letters, digits, Shift, Ctrl, Alt, Space and the rest between.
    for (std::uint16_t code = KEY_ESC; code <= KEY_CAPSLOCK; ++code) {
        keyboard.codes[EV_KEY].insert(code);
    }
    keyboard.codes[EV_KEY].insert(KEY_LEFTMETA);
    keyboard.codes[EV_MSC] = {MSC_SCAN};
    keyboard.codes[EV_LED] = {LED_NUML, LED_CAPSL, LED_SCROLLL};
    keyboard.repeat = {{repeatDelay, 33}};
    return keyboard;
}

} // namespace

EvdevDescription laptopKeyboard() {
    return typing({.name = "AT Translated Set 2 keyboard",
                   .phys = "isa0060/serio0/input0",
                   .id = {BUS_I8042, 0x0001, 0x0001, 0xab83},
                   .parent = "/devices/platform/i8042/serio0",
                   .codes = {{EV_KEY, {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE}}}},
                  250);
}

EvdevDescription usbKeyboard() {
    return typing({.name = "Logitech USB Keyboard",
                   .phys = "usb-0000:00:14.0-2/input0",
                   .id = {BUS_USB, 0x046d, 0xc31c, 0x0110},
                   .parent = kUsbPort + "1-2/1-2:1.0/0003:046D:C31C.0001"},
                  500);
}

EvdevDescription usbConsumerControl() {
    return {.name = "Logitech USB Keyboard Consumer Control",
            .phys = "usb-0000:00:14.0-2/input1",
            .id = {BUS_USB, 0x046d, 0xc31c, 0x0110},
            .parent = kUsbPort + "1-2/1-2:1.1/0003:046D:C31C.0002",
            .codes = {{EV_KEY, {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE, KEY_PLAYPAUSE}},
                      {EV_REL, {REL_HWHEEL}},
                      {EV_ABS, {ABS_VOLUME}},
                      {EV_MSC, {MSC_SCAN}}}};
}

EvdevDescription hotkeysWithTabletSwitch() {
    return {.name = "Intel HID events",
            .id = {BUS_HOST, 0, 0, 0},
            .parent = "/devices/platform/INT33D5:00",
            .codes = {{EV_KEY, {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE, KEY_POWER}},
                      {EV_SW, {SW_TABLET_MODE}}}};
}

EvdevDescription mouseWithVolumeKeys() {
    return {.name = "Logitech MX Master 3",
            .phys = "usb-0000:00:14.0-3/input2:1",
            .id = {BUS_USB, 0x046d, 0x4082, 0x0111},
            .parent = kUsbPort + "1-3/1-3:1.2/0003:046D:4082.0003",
            .codes = {{EV_KEY, {BTN_LEFT, BTN_RIGHT, KEY_VOLUMEUP, KEY_VOLUMEDOWN}},
                      {EV_REL, {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL}}}};
}

EvdevDescription keyboardWithTouchpad() {
    return typing(
        {.name = "Logitech K400 Plus",
         .phys = "usb-0000:00:14.0-4/input2:1",
         .id = {BUS_USB, 0x046d, 0x404d, 0x0111},
         .parent = kUsbPort + "1-4/1-4:1.2/0003:046D:404D.0004",
         .codes = {{EV_KEY, {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE, BTN_LEFT, BTN_RIGHT}},
                   {EV_REL, {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL}}}},
        400);
}

EvdevDescription touchpadWithVolumeKeys() {
    return {.name = "SYNA3602:00 0911:5288 Touchpad",
            .id = {BUS_I2C, 0x0911, 0x5288, 0x0100},
            .parent = "/devices/platform/AMDI0010:01/i2c-1/i2c-SYNA3602:00/0018:0911:5288.0005",
            .codes = {{EV_KEY, {BTN_LEFT, BTN_TOUCH, KEY_VOLUMEUP, KEY_VOLUMEDOWN}},
                      {EV_ABS, {ABS_X, ABS_Y, ABS_MT_SLOT, ABS_MT_POSITION_X, ABS_MT_POSITION_Y}}},
            .properties = {INPUT_PROP_POINTER, INPUT_PROP_BUTTONPAD}};
}

std::string SharedText::text() const {
    std::lock_guard lock(mutex_);
    return text_;
}

SharedText::int_type SharedText::overflow(int_type character) {
    if (!traits_type::eq_int_type(character, traits_type::eof())) {
        std::lock_guard lock(mutex_);
        text_ += traits_type::to_char_type(character);
    }
    return character;
}

std::streamsize SharedText::xsputn(const char* text, std::streamsize size) {
    std::lock_guard lock(mutex_);
    text_.append(text, static_cast<std::size_t>(size));
    return size;
}

SwitchableSession::State::State()
    : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SwitchableSession::State::~State() {
    ::close(fd);
}

void SwitchableSession::acknowledgeChange() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = ::read(state_->fd, &count, sizeof count);
}

void SwitchableSession::setActive(bool active) {
    state_->active = active;
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(state_->fd, &one, sizeof one);
    if (state_->onSwitch) {
        state_->onSwitch(active);
    }
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

std::unique_ptr<EventTap> KeyboardBed::createTap(std::chrono::milliseconds grabRetryInterval,
                                                 std::chrono::milliseconds cloneAnnounceLimit) {
    // Like the core: a tap switched off is switched on again at once.
    return makeBedTap(*this, diagnostics_, {grabRetryInterval, cloneAnnounceLimit},
                      [this](const TappedEvent& event) {
                          if (event.type >= kCGEventTapDisabledByTimeout) {
                              switchedOff.push_back(event.type);
                              tap->enable(true);
                              return TapDecision::Pass;
                          }
                          heard.push_back(event);
                          return decide ? decide(event) : TapDecision::Pass;
                      });
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
