#pragma once
// Where a target is drawn on a client area, shared by every platform's paint code.

#include <cstdint>

struct TargetGeometry {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
    std::int32_t midX;
    std::int32_t midY;
    std::int32_t inset;  // the disc is the box shrunk by this on all four sides
};

// The box of the target at normalized (targetX, targetY), y from the bottom, on a client area of
// clientWidth x clientHeight. False when nothing but the white fill is drawn: no target
// (targetX is exactly -1), an empty box, or a box wholly outside the client area.
bool ComputeTargetGeometry(std::int32_t clientWidth, std::int32_t clientHeight, float targetX,
                           float targetY, TargetGeometry* out);
