#include "app/target_geometry.h"

#include <algorithm>
#include <cmath>

bool ComputeTargetGeometry(std::int32_t clientWidth, std::int32_t clientHeight, float targetX,
                           float targetY, TargetGeometry* out)
{
    if (targetX == -1.0f) {
        return false;
    }
    // Single precision throughout, and truncation toward zero, as the paint has always done.
    const float r = static_cast<float>(clientHeight) * 0.03125f;
    const float cx = static_cast<float>(clientWidth) * targetX;
    const float cy = static_cast<float>(clientHeight) * (1.0f - targetY);
    // A position no window could show would overflow the integer box.
    constexpr float kLimit = 1.0e9f;
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
