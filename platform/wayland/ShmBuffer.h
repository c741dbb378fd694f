#pragma once

// A picture in shared memory that a Wayland compositor shows.
// Implements: an anonymous memory file of width × height 32-bit pixels (premultiplied ARGB,
// the byte order of the machine, as wl_shm's ARGB8888 is), mapped for drawing, and its
// wl_buffer; whether the compositor still reads it.
// Does not: resize (a new size is a new buffer).

#include <cstdint>
#include <memory>
#include <wayland-client.h>

namespace varnu::wayland {

class ShmBuffer {
public:
    // Null when the memory cannot be had.
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, int width, int height);
    ~ShmBuffer();

    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    wl_buffer* buffer() const { return buffer_; }
    unsigned char* pixels() const { return static_cast<unsigned char*>(pixels_); }
    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return width_ * 4; }

    // Attached and not yet released by the compositor: not to be drawn into.
    bool isBusy() const { return busy_; }
    void setBusy() { busy_ = true; }

    // The compositor's release of the buffer.
    static void released(void* data, wl_buffer* buffer);

private:
    ShmBuffer() = default;

    wl_buffer* buffer_ = nullptr;
    void* pixels_ = nullptr;
    std::size_t size_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool busy_ = false;
};

} // namespace varnu::wayland
