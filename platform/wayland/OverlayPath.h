#pragma once

// Which way the overlay reaches the screen in this session, as the varnu program decides it.
// Implements: a layer surface on the compositor's overlay layer where the Wayland compositor
// offers the layer shell (wlroots compositors such as sway and Hyprland, KDE Plasma), whether
// Qt's windows are on XWayland or on Wayland; else, in a Wayland session, an X11 window on
// XWayland where that answers (GNOME), which knows the pointer only as XWayland last saw it;
// else a window whose place the Wayland compositor decides; in an X session, an X11 window on
// the screen under the pointer.

namespace varnu::wayland {

enum class OverlayPath { LayerShell, X11Window, XWaylandWindow, WaylandWindow, NoDisplay };

OverlayPath sessionOverlayPath();
const char* describe(OverlayPath path);

} // namespace varnu::wayland
