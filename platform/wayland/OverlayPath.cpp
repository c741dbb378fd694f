#include "platform/wayland/OverlayPath.h"

#include "platform/wayland/WaylandDisplay.h"

#include <cstdlib>
#include <string_view>

namespace varnu::wayland {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

OverlayPath sessionOverlayPath() {
    if (isSet("WAYLAND_DISPLAY") && WaylandDisplay::connectWithLayerShell()) {
        return OverlayPath::LayerShell;
    }
    // Qt runs natively on Wayland only when asked to; Varnu prefers the X display otherwise.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool nativeWayland =
        isSet("WAYLAND_DISPLAY") && platform && std::string_view(platform).starts_with("wayland");
    if (isSet("DISPLAY") && !nativeWayland) {
        return OverlayPath::X11Window;
    }
    return isSet("WAYLAND_DISPLAY") ? OverlayPath::WaylandWindow : OverlayPath::NoDisplay;
}

const char* describe(OverlayPath path) {
    switch (path) {
    case OverlayPath::LayerShell:
        return "a layer surface the compositor puts on the focused output (layer shell)";
    case OverlayPath::X11Window:
        return "an X11 window on the screen under the pointer";
    case OverlayPath::WaylandWindow:
        return "a window the Wayland compositor places and may focus (no layer shell; without "
               "QT_QPA_PLATFORM=wayland, an X11 window under the pointer where XWayland runs)";
    case OverlayPath::NoDisplay:
        return "none (no display)";
    }
    return "none (no display)";
}

} // namespace varnu::wayland
