#include "platform/wayland/shm_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace wayland {

struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    void* data = MAP_FAILED;
    std::size_t size = 0;
    int width = 0;  // in pixels
    int height = 0;
    bool busy = false;
    cairo_surface_t* image = nullptr;
};

namespace {

void Release(void* data, wl_buffer*)
{
    static_cast<ShmBuffer*>(data)->busy = false;
}

const wl_buffer_listener kBufferListener = {.release = Release};

void Free(ShmBuffer* buffer)
{
    if (buffer->image != nullptr) {
        cairo_surface_destroy(buffer->image);
    }
    if (buffer->buffer != nullptr) {
        wl_buffer_destroy(buffer->buffer);
    }
    if (buffer->data != MAP_FAILED) {
        munmap(buffer->data, buffer->size);
    }
    delete buffer;
}

ShmBuffer* Create(wl_shm* shm, int width, int height)
{
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
    if (stride <= 0 || height <= 0) {
        return nullptr;
    }
    ShmBuffer* buffer = new (std::nothrow) ShmBuffer;
    const int fd = memfd_create("qavel-calib", MFD_CLOEXEC);
    if (buffer == nullptr || fd < 0) {
        delete buffer;
        if (fd >= 0) {
            close(fd);
        }
        return nullptr;
    }
    buffer->size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    buffer->width = width;
    buffer->height = height;
    if (ftruncate(fd, static_cast<off_t>(buffer->size)) == 0) {
        buffer->data = mmap(nullptr, buffer->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (buffer->data == MAP_FAILED) {
        close(fd);
        Free(buffer);
        return nullptr;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(buffer->size));
    // cairo's RGB24 is the shared-memory format every compositor takes: 32 bits, x8r8g8b8.
    buffer->buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(buffer->buffer, &kBufferListener, buffer);
    buffer->image = cairo_image_surface_create_for_data(static_cast<unsigned char*>(buffer->data),
                                                        CAIRO_FORMAT_RGB24, width, height, stride);
    return buffer;
}

}  // namespace

cairo_t* BeginSurfacePaint(SurfaceBuffers* buffers, wl_shm* shm, int width, int height, int scale)
{
    const int pixelsWide = std::max(1, width) * scale;
    const int pixelsHigh = std::max(1, height) * scale;
    ShmBuffer* chosen = nullptr;
    auto& list = buffers->buffers;
    for (auto it = list.begin(); it != list.end();) {
        ShmBuffer* buffer = *it;
        if (buffer->busy) {
            ++it;
        } else if (buffer->width != pixelsWide || buffer->height != pixelsHigh) {
            Free(buffer);
            it = list.erase(it);
        } else {
            chosen = buffer;
            ++it;
        }
    }
    if (chosen == nullptr) {
        chosen = Create(shm, pixelsWide, pixelsHigh);
        if (chosen == nullptr) {
            return nullptr;
        }
        list.push_back(chosen);
    }
    buffers->scale = scale;
    cairo_t* cr = cairo_create(chosen->image);
    cairo_scale(cr, scale, scale);
    return cr;
}

void EndSurfacePaint(SurfaceBuffers* buffers, wl_surface* surface, cairo_t* cr)
{
    cairo_surface_t* image = cairo_get_target(cr);
    cairo_surface_flush(image);
    cairo_destroy(cr);
    for (ShmBuffer* buffer : buffers->buffers) {
        if (buffer->image == image) {
            buffer->busy = true;
            wl_surface_set_buffer_scale(surface, buffers->scale);
            wl_surface_attach(surface, buffer->buffer, 0, 0);
            wl_surface_damage(surface, 0, 0, INT32_MAX, INT32_MAX);
            wl_surface_commit(surface);
            return;
        }
    }
}

void FreeSurfaceBuffers(SurfaceBuffers* buffers)
{
    for (ShmBuffer* buffer : buffers->buffers) {
        Free(buffer);
    }
    buffers->buffers.clear();
}

}  // namespace wayland
