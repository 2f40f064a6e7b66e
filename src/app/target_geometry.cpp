#include "app/target_geometry.h"

#include <algorithm>
#include <cmath>

bool ComputeTargetGeometry(std::int32_t clientWidth, std::int32_t clientHeight, float targetX,
                           float targetY, TargetGeometry* out)
{
    if (targetX == -1.0f) {
        return false;
    }
    // Only r and cx are held in single precision; cy keeps double precision, so a rounding of
    // (1 - y) to float cannot move the box by a pixel. Truncation toward zero throughout.
    const float r = static_cast<float>(clientHeight) * 0.03125f;
    const float cx = static_cast<float>(clientWidth) * targetX;
    const double cy = static_cast<double>(clientHeight) * (1.0 - static_cast<double>(targetY));
    // A position no window could show would overflow the integer box.
    constexpr double kLimit = 1.0e9;
    if (!(std::fabs(cx) + r < kLimit) || !(std::fabs(cy) + r < kLimit)) {
        return false;
    }
    TargetGeometry g{};
    g.left = static_cast<std::int32_t>(cx - r);
    g.right = static_cast<std::int32_t>(cx + r);
    g.top = static_cast<std::int32_t>(cy - r);
    g.bottom = static_cast<std::int32_t>(cy + r);

    // Only the test uses the intersection; the whole box is drawn and clipped by the platform.
    const std::int32_t il = std::max(g.left, 0);
    const std::int32_t it = std::max(g.top, 0);
    const std::int32_t ir = std::min(g.right, clientWidth);
    const std::int32_t ib = std::min(g.bottom, clientHeight);
    if (il >= ir || it >= ib) {
        return false;
    }
    g.midX = (g.left + g.right) / 2;
    g.midY = (g.top + g.bottom) / 2;
    g.inset = (g.right - g.left) / 6;
    *out = g;
    return true;
}
