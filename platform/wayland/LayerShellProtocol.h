#pragma once

// The client side of the wlr layer-shell protocol (zwlr_layer_shell_v1, version 1), written by
// hand from the protocol's published XML: Debian packages libwayland and the stable and staging
// wayland-protocols, but not this protocol's description, so there is nothing for
// wayland-scanner to read.
// Implements: the two interfaces' message tables, the requests Varnu sends and the layer
// surface's events.
// Does not: cover popups on layer surfaces (declared for the message numbering only) or the
// requests of later versions.

#include <cstdint>
#include <wayland-client.h>

struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

extern "C" {
extern const struct wl_interface zwlr_layer_shell_v1_interface;
extern const struct wl_interface zwlr_layer_surface_v1_interface;
}

namespace varnu::wayland {

constexpr const char* kLayerShellGlobal = "zwlr_layer_shell_v1";
constexpr std::uint32_t kLayerShellVersion = 1;

enum class Layer : std::uint32_t { Background = 0, Bottom = 1, Top = 2, Overlay = 3 };

// Edges a layer surface is anchored to.
constexpr std::uint32_t kAnchorTop = 1;
constexpr std::uint32_t kAnchorBottom = 2;
constexpr std::uint32_t kAnchorLeft = 4;
constexpr std::uint32_t kAnchorRight = 8;

constexpr std::uint32_t kNoKeyboardInteractivity = 0;
// Placed against the output's edge, whatever panels reserve there.
constexpr std::int32_t kIgnoreExclusiveZones = -1;

struct LayerSurfaceListener {
    void (*configure)(void* data, zwlr_layer_surface_v1* surface, std::uint32_t serial,
                      std::uint32_t width, std::uint32_t height);
    void (*closed)(void* data, zwlr_layer_surface_v1* surface);
};

// No output: the compositor chooses, which is the output that has the focus.
zwlr_layer_surface_v1* getLayerSurface(zwlr_layer_shell_v1* shell, wl_surface* surface,
                                       wl_output* output, Layer layer, const char* nameSpace);
void setSize(zwlr_layer_surface_v1* surface, std::uint32_t width, std::uint32_t height);
void setAnchor(zwlr_layer_surface_v1* surface, std::uint32_t edges);
void setExclusiveZone(zwlr_layer_surface_v1* surface, std::int32_t zone);
void setMargin(zwlr_layer_surface_v1* surface, std::int32_t top, std::int32_t right,
               std::int32_t bottom, std::int32_t left);
void setKeyboardInteractivity(zwlr_layer_surface_v1* surface, std::uint32_t interactivity);
void ackConfigure(zwlr_layer_surface_v1* surface, std::uint32_t serial);
void destroyLayerSurface(zwlr_layer_surface_v1* surface);
int addListener(zwlr_layer_surface_v1* surface, const LayerSurfaceListener* listener, void* data);

} // namespace varnu::wayland
