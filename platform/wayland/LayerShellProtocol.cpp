#include "platform/wayland/LayerShellProtocol.h"

#include <wayland-client-protocol.h>

namespace {

// The argument types of every message, in one table as wayland-scanner lays it out: each
// message points at the slots of its own arguments; only object and new-object arguments name
// an interface.
const struct wl_interface* types[] = {
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    // get_layer_surface: new id, surface, output (may be null), layer, namespace
    &zwlr_layer_surface_v1_interface,
    &wl_surface_interface,
    &wl_output_interface,
    nullptr,
    nullptr,
    // get_popup: an xdg_popup, never sent by Varnu
    nullptr,
};

const struct wl_message shellRequests[] = {
    {"get_layer_surface", "no?ous", types + 4},
};

enum SurfaceRequest : std::uint32_t {
    kSetSize,
    kSetAnchor,
    kSetExclusiveZone,
    kSetMargin,
    kSetKeyboardInteractivity,
    kGetPopup,
    kAckConfigure,
    kDestroy,
};

const struct wl_message surfaceRequests[] = {
    {"set_size", "uu", types + 0},
    {"set_anchor", "u", types + 0},
    {"set_exclusive_zone", "i", types + 0},
    {"set_margin", "iiii", types + 0},
    {"set_keyboard_interactivity", "u", types + 0},
    {"get_popup", "o", types + 9},
    {"ack_configure", "u", types + 0},
    {"destroy", "", types + 0},
};

const struct wl_message surfaceEvents[] = {
    {"configure", "uuu", types + 0},
    {"closed", "", types + 0},
};

wl_proxy* proxy(zwlr_layer_surface_v1* surface) {
    return reinterpret_cast<wl_proxy*>(surface);
}

void send(zwlr_layer_surface_v1* surface, SurfaceRequest request, std::uint32_t flags,
          auto... arguments) {
    wl_proxy_marshal_flags(proxy(surface), request, nullptr, wl_proxy_get_version(proxy(surface)),
                           flags, arguments...);
}

} // namespace

extern "C" {
const struct wl_interface zwlr_layer_shell_v1_interface = {
    "zwlr_layer_shell_v1", 1, 1, shellRequests, 0, nullptr,
};
const struct wl_interface zwlr_layer_surface_v1_interface = {
    "zwlr_layer_surface_v1", 1, 8, surfaceRequests, 2, surfaceEvents,
};
}

namespace varnu::wayland {

zwlr_layer_surface_v1* getLayerSurface(zwlr_layer_shell_v1* shell, wl_surface* surface,
                                       wl_output* output, Layer layer, const char* nameSpace) {
    auto* shellProxy = reinterpret_cast<wl_proxy*>(shell);
    return reinterpret_cast<zwlr_layer_surface_v1*>(wl_proxy_marshal_flags(
        shellProxy, 0, &zwlr_layer_surface_v1_interface, wl_proxy_get_version(shellProxy), 0,
        nullptr, surface, output, static_cast<std::uint32_t>(layer), nameSpace));
}

void setSize(zwlr_layer_surface_v1* surface, std::uint32_t width, std::uint32_t height) {
    send(surface, kSetSize, 0, width, height);
}

void setAnchor(zwlr_layer_surface_v1* surface, std::uint32_t edges) {
    send(surface, kSetAnchor, 0, edges);
}

void setExclusiveZone(zwlr_layer_surface_v1* surface, std::int32_t zone) {
    send(surface, kSetExclusiveZone, 0, zone);
}

void setMargin(zwlr_layer_surface_v1* surface, std::int32_t top, std::int32_t right,
               std::int32_t bottom, std::int32_t left) {
    send(surface, kSetMargin, 0, top, right, bottom, left);
}

void setKeyboardInteractivity(zwlr_layer_surface_v1* surface, std::uint32_t interactivity) {
    send(surface, kSetKeyboardInteractivity, 0, interactivity);
}

void ackConfigure(zwlr_layer_surface_v1* surface, std::uint32_t serial) {
    send(surface, kAckConfigure, 0, serial);
}

void destroyLayerSurface(zwlr_layer_surface_v1* surface) {
    send(surface, kDestroy, WL_MARSHAL_FLAG_DESTROY);
}

int addListener(zwlr_layer_surface_v1* surface, const LayerSurfaceListener* listener, void* data) {
    using Handler = void (*)(void);
    return wl_proxy_add_listener(
        proxy(surface), reinterpret_cast<Handler*>(const_cast<LayerSurfaceListener*>(listener)),
        data);
}

} // namespace varnu::wayland
