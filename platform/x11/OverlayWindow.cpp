#include "platform/x11/OverlayWindow.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <string_view>
#include <unistd.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace varnu::x11 {

namespace {

constexpr std::uint8_t kAlphaDepth = 32;
constexpr std::uint8_t kFormat8 = 8;
constexpr std::uint8_t kFormat32 = 32;
constexpr std::size_t kPutImageHeader = 24;
constexpr std::size_t kBytesPerRequestUnit = 4;
// The bit of an event's code that marks one another client sent (SendEvent).
constexpr std::uint8_t kSentEventBit = 0x80;
constexpr std::string_view kName = "Varnu";
// WM_CLASS: the instance's name, then the class's, each ending in NUL.
constexpr std::string_view kClass{"varnu\0Varnu", 12};

template <typename Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
Owned<Reply> own(Reply* reply) {
    return Owned<Reply>(reply, &std::free);
}

// A TrueColor visual with an alpha channel on the screen, or 0.
xcb_visualid_t alphaVisual(const xcb_screen_t* screen) {
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem;
         xcb_depth_next(&depths)) {
        if (depths.data->depth != kAlphaDepth) {
            continue;
        }
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) {
                return visuals.data->visual_id;
            }
        }
    }
    return 0;
}

bool serverHasMachineByteOrder(xcb_connection_t* connection) {
    const bool serverLittle =
        xcb_get_setup(connection)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    return serverLittle == (std::endian::native == std::endian::little);
}

xcb_atom_t atom(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie) {
    const auto reply = own(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_intern_atom_cookie_t intern(xcb_connection_t* connection, std::string_view name) {
    return xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
}

void setProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                 xcb_atom_t type, std::uint8_t format, std::uint32_t count, const void* data) {
    if (property != XCB_ATOM_NONE && type != XCB_ATOM_NONE) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format,
                            count, data);
    }
}

// Names the window as Varnu's and tells compositors it is a notification, not an application
// window.
void describeWindow(xcb_connection_t* connection, xcb_window_t window) {
    const auto nameCookie = intern(connection, "_NET_WM_NAME");
    const auto utf8Cookie = intern(connection, "UTF8_STRING");
    const auto typeCookie = intern(connection, "_NET_WM_WINDOW_TYPE");
    const auto notificationCookie = intern(connection, "_NET_WM_WINDOW_TYPE_NOTIFICATION");
    const auto pidCookie = intern(connection, "_NET_WM_PID");
    const auto name = static_cast<std::uint32_t>(kName.size());
    setProperty(connection, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, kFormat8, name,
                kName.data());
    setProperty(connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kFormat8,
                static_cast<std::uint32_t>(kClass.size()), kClass.data());
    setProperty(connection, window, atom(connection, nameCookie), atom(connection, utf8Cookie),
                kFormat8, name, kName.data());
    const xcb_atom_t notification = atom(connection, notificationCookie);
    setProperty(connection, window, atom(connection, typeCookie), XCB_ATOM_ATOM, kFormat32, 1,
                &notification);
    const auto pid = static_cast<std::uint32_t>(::getpid());
    setProperty(connection, window, atom(connection, pidCookie), XCB_ATOM_CARDINAL, kFormat32, 1,
                &pid);
}

} // namespace

std::unique_ptr<OverlayWindow> OverlayWindow::create(int width, int height) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    std::unique_ptr<OverlayWindow> made(new OverlayWindow);
    made->connection_ = connection;
    if (xcb_connection_has_error(connection) || !serverHasMachineByteOrder(connection) ||
        !xcb_get_extension_data(connection, &xcb_shape_id)->present) {
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; screens.rem && screenNumber > 0; --screenNumber) {
        xcb_screen_next(&screens);
    }
    const xcb_visualid_t visual = screens.rem ? alphaVisual(screens.data) : 0;
    if (!visual) {
        return nullptr;
    }
    made->root_ = screens.data->root;
    made->width_ = width;
    made->height_ = height;
    made->kept_ = std::make_unique<std::uint32_t[]>(static_cast<std::size_t>(width) *
                                                    static_cast<std::size_t>(height));
    const xcb_colormap_t colormap = xcb_generate_id(connection);
    xcb_create_colormap(connection, XCB_COLORMAP_ALLOC_NONE, colormap, made->root_, visual);
    made->window_ = xcb_generate_id(connection);
    // In the order of their bits: a transparent background, no border, no window manager, the
    // exposures to draw again, the visual's colour map.
    const std::uint32_t values[] = {0, 0, 1, XCB_EVENT_MASK_EXPOSURE, colormap};
    const auto check = xcb_create_window_checked(
        connection, kAlphaDepth, made->window_, made->root_, 0, 0,
        static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
        XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK |
            XCB_CW_COLORMAP,
        values);
    if (own(xcb_request_check(connection, check))) {
        return nullptr;
    }
    // No rectangles of input: the pointer goes to whatever lies below.
    xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT,
                         XCB_CLIP_ORDERING_UNSORTED, made->window_, 0, 0, 0, nullptr);
    describeWindow(connection, made->window_);
    made->context_ = xcb_generate_id(connection);
    xcb_create_gc(connection, made->context_, made->window_, 0, nullptr);
    xcb_flush(connection);
    return made;
}

OverlayWindow::~OverlayWindow() {
    // The server lets go of the window, its colour map and its graphics context with the client.
    xcb_disconnect(connection_);
}

int OverlayWindow::fileDescriptor() const {
    return xcb_get_file_descriptor(connection_);
}

void OverlayWindow::draw(const std::uint32_t* pixels) {
    std::copy_n(pixels, static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_),
                kept_.get());
    if (shown_) {
        drawKept();
        xcb_flush(connection_);
    }
}

void OverlayWindow::drawKept() {
    // As many rows a request as the server takes in one.
    const std::size_t stride = static_cast<std::size_t>(width_) * sizeof(std::uint32_t);
    const std::size_t largest =
        std::size_t{xcb_get_maximum_request_length(connection_)} * kBytesPerRequestUnit;
    const int rowsAtOnce = std::max(1, static_cast<int>((largest - kPutImageHeader) / stride));
    for (int top = 0; top < height_; top += rowsAtOnce) {
        const int rows = std::min(rowsAtOnce, height_ - top);
        xcb_put_image(
            connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, context_,
            static_cast<std::uint16_t>(width_), static_cast<std::uint16_t>(rows), 0,
            static_cast<std::int16_t>(top), 0, kAlphaDepth,
            static_cast<std::uint32_t>(stride * static_cast<std::size_t>(rows)),
            reinterpret_cast<const std::uint8_t*>(
                kept_.get() + static_cast<std::size_t>(top) * static_cast<std::size_t>(width_)));
    }
}

void OverlayWindow::moveTo(RootPoint topLeft) {
    const std::uint32_t values[] = {static_cast<std::uint32_t>(topLeft.x),
                                    static_cast<std::uint32_t>(topLeft.y)};
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    xcb_flush(connection_);
}

void OverlayWindow::show() {
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    if (!shown_) {
        xcb_map_window(connection_, window_);
        shown_ = true;
        drawKept();
    }
    xcb_flush(connection_);
}

void OverlayWindow::hide() {
    if (shown_) {
        xcb_unmap_window(connection_, window_);
        shown_ = false;
        xcb_flush(connection_);
    }
}

std::optional<RootPoint> OverlayWindow::pointer() {
    const auto reply =
        own(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr));
    if (!reply || !reply->same_screen) {
        return std::nullopt;
    }
    return RootPoint{reply->root_x, reply->root_y};
}

bool OverlayWindow::dispatch() {
    bool exposed = false;
    while (auto event = own(xcb_poll_for_event(connection_))) {
        // Errors of requests that expect no reply arrive here too; nothing is to be done of them.
        exposed = exposed || (event->response_type & ~kSentEventBit) == XCB_EXPOSE;
    }
    if (xcb_connection_has_error(connection_)) {
        shown_ = false;
        return false;
    }
    if (exposed && shown_) {
        drawKept();
        xcb_flush(connection_);
    }
    return true;
}

} // namespace varnu::x11
