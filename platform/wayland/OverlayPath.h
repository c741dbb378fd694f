#pragma once

// Which way the overlay reaches the screen in this session, as the varnu program decides it.
// Implements: a layer surface on the compositor's overlay layer where the Wayland compositor
// offers the layer shell (wlroots compositors such as sway and Hyprland, KDE Plasma); else an X11
// window (an X session, or XWayland, as on GNOME), placed on the screen under the pointer, unless
// QT_QPA_PLATFORM asks Qt for Wayland; else a window whose place the Wayland compositor decides.
// The layer surface is used on XWayland and natively alike.

namespace varnu::wayland {

enum class OverlayPath { LayerShell, X11Window, WaylandWindow, NoDisplay };

OverlayPath sessionOverlayPath();
const char* describe(OverlayPath path);

} // namespace varnu::wayland
