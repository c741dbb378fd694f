// varnu-test-pointer: a pointer for a Wayland session that has none (a headless compositor),
// through the wlr virtual-pointer protocol, whose description Debian does not package; its two
// interfaces are written out here from the protocol's published XML. Reads commands from
// standard input, one a line, and answers "ok" once the compositor has handled each:
//   move X Y     the pointer to X Y of the layout (WIDTHxHEIGHT given as the argument)
//   click X Y    move there, then press and release the left button

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <wayland-client.h>

namespace {

const wl_interface* types[] = {nullptr, nullptr, nullptr, nullptr, nullptr};
extern "C" const wl_interface pointerInterface;
const wl_interface* createTypes[] = {&wl_seat_interface, &pointerInterface};
const wl_message managerRequests[] = {{"create_virtual_pointer", "?on", createTypes},
                                      {"destroy", "", types}};
const wl_message pointerRequests[] = {
    {"motion", "uff", types},   {"motion_absolute", "uuuuu", types},
    {"button", "uuu", types},   {"axis", "uuf", types},
    {"frame", "", types},       {"axis_source", "u", types},
    {"axis_stop", "uu", types}, {"axis_discrete", "uufi", types},
    {"destroy", "", types}};
extern "C" const wl_interface managerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, managerRequests, 0, nullptr};
extern "C" const wl_interface pointerInterface = {"zwlr_virtual_pointer_v1", 1, 9,
                                                  pointerRequests,           0, nullptr};

enum PointerRequest : std::uint32_t { kMotionAbsolute = 1, kButton = 2, kFrame = 4 };
constexpr std::uint32_t kLeftButton = 0x110; // BTN_LEFT
constexpr std::uint32_t kPressed = 1;
constexpr std::uint32_t kReleased = 0;

wl_seat* seat = nullptr;
wl_proxy* manager = nullptr;

void global(void*, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, managerInterface.name) == 0) {
        manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &managerInterface, 1));
    }
}
void globalRemoved(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener registryListener = {global, globalRemoved};

void send(wl_proxy* pointer, PointerRequest request, auto... arguments) {
    wl_proxy_marshal_flags(pointer, request, nullptr, 1, 0, arguments...);
}

} // namespace

int main(int argc, char** argv) {
    unsigned width = 0;
    unsigned height = 0;
    if (argc != 2 || std::sscanf(argv[1], "%ux%u", &width, &height) != 2) {
        std::fputs("usage: varnu-test-pointer WIDTHxHEIGHT\n", stderr);
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fputs("varnu-test-pointer: no Wayland display\n", stderr);
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!manager) {
        std::fputs("varnu-test-pointer: the compositor offers no virtual pointer\n", stderr);
        return 1;
    }
    auto* pointer = wl_proxy_marshal_flags(manager, 0, &pointerInterface, 1, 0, seat, nullptr);
    wl_display_roundtrip(display);
    std::cout << "ok" << std::endl;
    std::uint32_t time = 0;
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string command;
        unsigned x = 0;
        unsigned y = 0;
        words >> command >> x >> y;
        send(pointer, kMotionAbsolute, time += 10, x, y, width, height);
        send(pointer, kFrame);
        if (command == "click") {
            send(pointer, kButton, time += 10, kLeftButton, kPressed);
            send(pointer, kFrame);
            send(pointer, kButton, time += 50, kLeftButton, kReleased);
            send(pointer, kFrame);
        }
        wl_display_roundtrip(display);
        std::cout << "ok" << std::endl;
    }
    wl_display_disconnect(display);
    return 0;
}
