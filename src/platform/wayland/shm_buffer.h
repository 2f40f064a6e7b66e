#pragma once
// Shared-memory buffers of one surface, painted with cairo at the surface's scale. A buffer the
// compositor still holds is not painted over; a new one is made instead.

#include <cairo.h>
#include <wayland-client.h>

#include <vector>

namespace wayland {

struct ShmBuffer;

struct SurfaceBuffers {
    std::vector<ShmBuffer*> buffers;
    int scale = 1;
};

// A cairo context on a free buffer of width x height surface units at scale (its pixels are
// scale times as many), scaled so that drawing is in surface units; null when no memory could be
// had. shm may be a wrapper on another thread's event queue: the buffers' releases arrive there.
cairo_t* BeginSurfacePaint(SurfaceBuffers* buffers, wl_shm* shm, int width, int height, int scale);

// Attaches what was painted to surface at its scale, damaged whole, and commits.
void EndSurfacePaint(SurfaceBuffers* buffers, wl_surface* surface, cairo_t* cr);

void FreeSurfaceBuffers(SurfaceBuffers* buffers);

}  // namespace wayland
