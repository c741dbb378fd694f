#pragma once

// A connection of Varnu's own to the X display and one overlay window on it, for a session whose
// Wayland compositor has no layer shell but runs XWayland, while Qt's windows are on Wayland.
// Implements: connecting to $DISPLAY; an override-redirect window with 32-bit colour (alpha), an
// empty input shape, so that the pointer goes through it, the notification window type and
// Varnu's name; drawing premultiplied ARGB pixels into it, moving, showing it on top and hiding
// it; where the X server last saw the pointer.
// Does not: paint (the caller hands finished pixels), scale for HiDPI, or reconnect after the
// server went away. A server of another byte order than the machine's (never a local XWayland)
// or without 32-bit colour is refused.

#include <cstdint>
#include <memory>
#include <optional>

struct xcb_connection_t;

namespace varnu::x11 {

struct RootPoint {
    int x = 0;
    int y = 0;
};

class OverlayWindow {
public:
    // Null when $DISPLAY names no X server that answers, or one the window cannot be made on.
    static std::unique_ptr<OverlayWindow> create(int width, int height);
    ~OverlayWindow();

    OverlayWindow(const OverlayWindow&) = delete;
    OverlayWindow& operator=(const OverlayWindow&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    int fileDescriptor() const;

    // width × height pixels, rows of width 32-bit words, premultiplied ARGB in the machine's
    // byte order; drawn now when the window is shown, kept for when it is shown or exposed.
    void draw(const std::uint32_t* pixels);
    // The window's top-left corner, in the root window's coordinates.
    void moveTo(RootPoint topLeft);
    void show();
    void hide();

    // Where the server last saw the pointer, in the root window's coordinates.
    std::optional<RootPoint> pointer();

    // Handles what arrived, without blocking; false once the connection is broken.
    bool dispatch();

private:
    OverlayWindow() = default;
    void drawKept();

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t window_ = 0;
    std::uint32_t context_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool shown_ = false;
    std::unique_ptr<std::uint32_t[]> kept_;
};

} // namespace varnu::x11
