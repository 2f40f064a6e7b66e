#include "calibration/calibration_math.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <limits>

#include "calibration/calibration_pages.h"

// The grid correction is defined in double precision. Wider intermediates (x87 arithmetic, the
// default of 32-bit x86 compilers) truncate some results to another integer, so that one
// controller would be calibrated differently by the 32-bit and the 64-bit program.
static_assert(FLT_EVAL_METHOD == 0, "build with SSE2 arithmetic on x86 (-msse2 -mfpmath=sse)");

namespace {

constexpr std::int32_t kGridOrigin = 102;
constexpr auto gridCellWidths = std::to_array<std::int32_t>({409, 512, 512, 410});
constexpr std::int32_t kLowGoal = 256;
constexpr std::int32_t kHighGoal = 1793;
constexpr int kMaxPasses = 100;
constexpr std::int32_t kMaxLimit = 2046;

struct Point {
    std::int32_t x;
    std::int32_t y;
};

struct OrientationRow {
    enum Corner { MinCorner, P1, P2, P3, MaxCorner } low, high;
    std::uint8_t orientation;
};

// Indexed by p = 4 (x3 < 0) + 2 (y3 < 0) + 1 (x2 < 0).
constexpr OrientationRow kOrientationTable[8] = {
    {OrientationRow::MinCorner, OrientationRow::P3, 5},
    {OrientationRow::MinCorner, OrientationRow::P3, 4},
    {OrientationRow::P1, OrientationRow::P2, 1},
    {OrientationRow::P2, OrientationRow::P1, 6},
    {OrientationRow::P1, OrientationRow::P2, 0},
    {OrientationRow::P2, OrientationRow::P1, 7},
    {OrientationRow::P3, OrientationRow::MaxCorner, 2},
    {OrientationRow::P3, OrientationRow::MaxCorner, 3},
};

std::int32_t Saturate(double value)
{
    if (!(value > static_cast<double>(std::numeric_limits<std::int32_t>::min()))) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

// Cell index and position inside it along one axis; outer cells extrapolate.
void LocateInGrid(std::int32_t v, int* cell, double* t)
{
    std::int64_t u = static_cast<std::int64_t>(v) - kGridOrigin;
    int i = 0;
    while (i < 3 && u > gridCellWidths[i]) {
        u -= gridCellWidths[i];
        ++i;
    }
    *cell = i;
    *t = static_cast<double>(u) / gridCellWidths[i];
}

double Interpolate(const double* offsets, int i, int j, double tx, double ty)
{
    const double g00 = offsets[j * 5 + i];
    const double g10 = offsets[j * 5 + i + 1];
    const double g01 = offsets[(j + 1) * 5 + i];
    const double g11 = offsets[(j + 1) * 5 + i + 1];
    return g00 + tx * (g10 - g00) + ty * (g01 - g00) + tx * ty * (g11 + g00 - g01 - g10);
}

Point CornerPoint(OrientationRow::Corner corner, const Point pts[3])
{
    switch (corner) {
    case OrientationRow::P1: return pts[0];
    case OrientationRow::P2: return pts[1];
    case OrientationRow::P3: return pts[2];
    case OrientationRow::MinCorner:
        return {pts[0].x < pts[1].x ? pts[0].x : pts[1].x,
                pts[0].y < pts[1].y ? pts[0].y : pts[1].y};
    case OrientationRow::MaxCorner:
    default:
        return {pts[0].x > pts[1].x ? pts[0].x : pts[1].x,
                pts[0].y > pts[1].y ? pts[0].y : pts[1].y};
    }
}

std::int32_t Scale(std::int32_t v)
{
    return (v + 2048) / 2;
}

// The controller's output for scaled coordinate s on an axis with the given limits. False when
// the span is no longer positive or the prediction leaves the integer range: no calibration
// can come out of such limits.
bool Predict(std::int32_t s, std::int64_t low, std::int64_t high, std::int32_t* out)
{
    constexpr std::int64_t kSane = std::int64_t{1} << 24;
    if (low < -kSane || low > kSane || high < -kSane || high > kSane) {
        return false;
    }
    const std::int64_t span = high - low;
    if (span <= 0) {
        return false;
    }
    const std::int64_t value = ((s - low) * 4095 / 2) / span;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    *out = static_cast<std::int32_t>(value);
    return true;
}

bool InUnitStep(std::int64_t step)
{
    return step >= -1 && step <= 1;
}

}  // namespace

void DeriveThirdPoint(ControllerSession* session)
{
    const std::int32_t x1 = session->x[0];
    const std::int32_t y1 = session->y[0];
    const bool sameSigns = (x1 < 0 && y1 < 0) || (x1 > 0 && y1 > 0);
    session->x[2] = sameSigns ? x1 : session->x[1];
    session->y[2] = sameSigns ? session->y[1] : y1;
    ++session->pointCount;
}

void CorrectByGrid(std::int32_t x, std::int32_t y, const LinearizationGrid& grid,
                   std::int32_t* outX, std::int32_t* outY)
{
    int i = 0;
    int j = 0;
    double tx = 0.0;
    double ty = 0.0;
    LocateInGrid(x, &i, &tx);
    LocateInGrid(y, &j, &ty);
    const std::int32_t offsetX = Saturate(std::trunc(Interpolate(grid.dx, i, j, tx, ty)));
    const std::int32_t offsetY = Saturate(std::trunc(Interpolate(grid.dy, i, j, tx, ty)));
    *outX = Saturate(static_cast<double>(x) - offsetX);
    *outY = Saturate(static_cast<double>(y) - offsetY);
}

bool ComputeCalibrationLimits(const std::int32_t (&x)[3], const std::int32_t (&y)[3],
                              const LinearizationGrid& grid, CalibrationLimits* out)
{
    const int p = (x[2] < 0 ? 4 : 0) + (y[2] < 0 ? 2 : 0) + (x[1] < 0 ? 1 : 0);
    if ((x[0] < 0) == (x[1] < 0) || (y[0] < 0) == (y[1] < 0)) {
        return false;
    }
    const Point pts[3] = {{x[0], y[0]}, {x[1], y[1]}, {x[2], y[2]}};
    const OrientationRow& row = kOrientationTable[p];
    const Point lowCorner = CornerPoint(row.low, pts);
    const Point highCorner = CornerPoint(row.high, pts);
    const std::int32_t lx = Scale(lowCorner.x);
    const std::int32_t ly = Scale(lowCorner.y);
    const std::int32_t hx = Scale(highCorner.x);
    const std::int32_t hy = Scale(highCorner.y);

    const std::int32_t ex = (hx - lx) * 511 / 3071;
    const std::int32_t ey = (hy - ly) * 511 / 3071;
    CalibrationLimits limits{lx - ex, hx + ex, ly - ey, hy + ey, row.orientation};
    if (limits.xLow >= limits.xHigh || limits.yLow >= limits.yHigh) {
        return false;
    }

    // Limits and steps run wide so that a diverging iteration fails instead of overflowing.
    std::int64_t xLow = limits.xLow;
    std::int64_t xHigh = limits.xHigh;
    std::int64_t yLow = limits.yLow;
    std::int64_t yHigh = limits.yHigh;
    bool converged = false;
    for (int pass = 0; pass < kMaxPasses && !converged; ++pass) {
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        std::int32_t cx = 0;
        std::int32_t cy = 0;
        if (!Predict(lx, xLow, xHigh, &sx) || !Predict(ly, yLow, yHigh, &sy)) {
            return false;
        }
        CorrectByGrid(sx, sy, grid, &cx, &cy);
        std::int64_t stepX = (kLowGoal - static_cast<std::int64_t>(cx)) / 2;
        std::int64_t stepY = (kLowGoal - static_cast<std::int64_t>(cy)) / 2;
        xLow -= stepX;
        yLow -= stepY;
        if (!InUnitStep(stepX) || !InUnitStep(stepY)) {
            continue;
        }
        if (!Predict(hx, xLow, xHigh, &sx) || !Predict(hy, yLow, yHigh, &sy)) {
            return false;
        }
        CorrectByGrid(sx, sy, grid, &cx, &cy);
        stepX = (kHighGoal - static_cast<std::int64_t>(cx)) / 2;
        stepY = (kHighGoal - static_cast<std::int64_t>(cy)) / 2;
        xHigh -= stepX;
        yHigh -= stepY;
        converged = InUnitStep(stepX) && InUnitStep(stepY);
    }
    if (!converged) {
        return false;
    }
    limits.xLow = static_cast<std::int32_t>(xLow);
    limits.xHigh = static_cast<std::int32_t>(xHigh);
    limits.yLow = static_cast<std::int32_t>(yLow);
    limits.yHigh = static_cast<std::int32_t>(yHigh);

    if (limits.xLow < 0) {
        limits.xLow = 0;
    }
    if (limits.yLow < 0) {
        limits.yLow = 0;
    }
    if (limits.xHigh > kMaxLimit) {
        limits.xHigh = kMaxLimit;
    }
    if (limits.yHigh > kMaxLimit) {
        limits.yHigh = kMaxLimit;
    }
    *out = limits;
    return true;
}

int ComputeAndStoreCalibration(ControllerSession* session)
{
    if (session->productId != kModelRaw0100 && session->productId != kModelRaw0102) {
        return 1;
    }

    LinearizationGrid grid{};
    if (session->productId == kModelRaw0102 && !ReadLinearizationGrid(session, &grid)) {
        return 0;
    }

    CalibrationLimits limits{};
    if (!ComputeCalibrationLimits(session->x, session->y, grid, &limits)) {
        return 0;
    }
    if (!StoreCalibrationPage(session, limits)) {
        return 0;
    }
    if (session->productId == kModelRaw0100 && !ClearLinearizationPage(session)) {
        return 0;
    }
    return 1;
}
