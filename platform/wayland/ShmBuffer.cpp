#include "platform/wayland/ShmBuffer.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client-protocol.h>

namespace varnu::wayland {

namespace {

const wl_buffer_listener kBufferListener = {&ShmBuffer::released};

} // namespace

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, int width, int height) {
    std::unique_ptr<ShmBuffer> made(new ShmBuffer);
    made->width_ = width;
    made->height_ = height;
    made->size_ = static_cast<std::size_t>(made->stride()) * static_cast<std::size_t>(height);
    const int file = ::memfd_create("varnu-overlay", MFD_CLOEXEC);
    if (file < 0) {
        return nullptr;
    }
    if (::ftruncate(file, static_cast<off_t>(made->size_)) != 0) {
        ::close(file);
        return nullptr;
    }
    made->pixels_ = ::mmap(nullptr, made->size_, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (made->pixels_ == MAP_FAILED) {
        made->pixels_ = nullptr;
        ::close(file);
        return nullptr;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, file, static_cast<std::int32_t>(made->size_));
    made->buffer_ =
        wl_shm_pool_create_buffer(pool, 0, width, height, made->stride(), WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    ::close(file);
    wl_buffer_add_listener(made->buffer_, &kBufferListener, made.get());
    return made;
}

ShmBuffer::~ShmBuffer() {
    if (buffer_) {
        wl_buffer_destroy(buffer_);
    }
    if (pixels_) {
        ::munmap(pixels_, size_);
    }
}

void ShmBuffer::released(void* data, wl_buffer* /*buffer*/) {
    static_cast<ShmBuffer*>(data)->busy_ = false;
}

} // namespace varnu::wayland
