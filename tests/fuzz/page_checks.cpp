#include "page_checks.h"

#include "calibration/calibration_math.h"

namespace {

const std::vector<std::uint8_t> kSelectGrid = {3, 2, 0, 0, 2, 0, 50, 0};
const std::vector<std::uint8_t> kSelectCalibration = {3, 2, 0, 0, 1, 0, 26, 0};

bool IsPageRead(const std::vector<FakeTransfer>& log, const LogicalTransfer& g)
{
    const FakeTransfer& t = Outcome(log, g);
    return !t.set && t.id == 5 && t.length == 72;
}

// The grid of the latest good read of page 2 before group `before`, or none.
bool GridReadBefore(const std::vector<FakeTransfer>& log,
                    const std::vector<LogicalTransfer>& groups, std::size_t before,
                    LinearizationGrid* grid)
{
    for (std::size_t i = before; i-- > 1;) {
        if (IsPageRead(log, groups[i]) && IsSetOf(log, groups[i - 1], kSelectGrid)) {
            const FakeTransfer& read = Outcome(log, groups[i]);
            if (!read.ok || read.data[0] != 5 || !groups[i - 1].ok) {
                return false;
            }
            for (int k = 0; k < 25; ++k) {
                grid->dx[k] = 2.0 * static_cast<std::int8_t>(read.data[8 + 2 * k]);
                grid->dy[k] = 2.0 * static_cast<std::int8_t>(read.data[9 + 2 * k]);
            }
            return true;
        }
    }
    return false;
}

void RequireCalibrationWrite(const std::vector<FakeTransfer>& log,
                             const std::vector<LogicalTransfer>& groups, std::size_t i,
                             std::uint32_t product, const ControllerSession& points)
{
    FuzzRequire(i >= 2 && IsSetOf(log, groups[i - 2], kSelectCalibration) && groups[i - 2].ok,
                "page 1 written without its selection");
    FuzzRequire(IsPageRead(log, groups[i - 1]) && groups[i - 1].ok,
                "page 1 written without a read before it");
    const FakeTransfer& read = Outcome(log, groups[i - 1]);
    FuzzRequire(read.data[0] == 5, "page 1 built from an answer under another report");
    FuzzRequire(points.pointCount == 3, "page 1 written before every point was taken");

    LinearizationGrid grid{};
    if (product == kModelRaw0102) {
        FuzzRequire(GridReadBefore(log, groups, i - 2, &grid),
                    "page 1 written without a good read of the grid");
    }
    CalibrationLimits limits{};
    FuzzRequire(ComputeCalibrationLimits(points.x, points.y, grid, &limits),
                "page 1 written although the computation fails");

    const std::vector<std::uint8_t>& w = log[groups[i].first].data;
    const std::uint8_t expected[8] = {
        static_cast<std::uint8_t>(limits.xLow >> 8),  static_cast<std::uint8_t>(limits.xLow),
        static_cast<std::uint8_t>(limits.xHigh >> 8), static_cast<std::uint8_t>(limits.xHigh),
        static_cast<std::uint8_t>(limits.yLow >> 8),  static_cast<std::uint8_t>(limits.yLow),
        static_cast<std::uint8_t>(limits.yHigh >> 8), static_cast<std::uint8_t>(limits.yHigh)};
    for (int b = 0; b < 8; ++b) {
        FuzzRequire(w[8 + b] == expected[b], "page 1 limits differ from the computation");
    }
    FuzzRequire(w[28] == limits.orientation, "page 1 orientation differs from the computation");
    for (int b = 16; b < 72; ++b) {
        if (b != 28) {
            FuzzRequire(w[b] == read.data[b], "a page-1 byte not the program's was changed");
        }
    }
}

}  // namespace

const FakeTransfer& Outcome(const std::vector<FakeTransfer>& log, const LogicalTransfer& group)
{
    return log[group.first + group.attempts - 1];
}

bool IsSetOf(const std::vector<FakeTransfer>& log, const LogicalTransfer& group,
             const std::vector<std::uint8_t>& bytes)
{
    const FakeTransfer& t = log[group.first];
    return t.set && t.data == bytes;
}

PageWrites RequirePageRules(const std::vector<FakeTransfer>& log,
                            const std::vector<LogicalTransfer>& groups, std::uint32_t product,
                            const ControllerSession& points)
{
    PageWrites writes;
    bool calibrationWritten = false;
    bool gridWritten = false;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const FakeTransfer& t = log[groups[i].first];
        if (!t.set || t.length != 72) {
            continue;
        }
        FuzzRequire(t.id == 5, "a page written under a report other than 5");
        FuzzRequire(product == kModelRaw0100 || product == kModelRaw0102,
                    "a page written to a model without pages");
        const std::vector<std::uint8_t>& w = t.data;
        FuzzRequire(w[1] == 1 && w[2] == 0 && w[3] == 0 && w[5] == 0 && w[7] == 0,
                    "a page written with a header the program does not give");
        if (w[4] == 1) {
            FuzzRequire(w[6] == 26, "page 1 written with another length");
            FuzzRequire(!calibrationWritten, "page 1 written twice");
            calibrationWritten = true;
            RequireCalibrationWrite(log, groups, i, product, points);
            writes.calibrationStored = groups[i].ok;
        } else {
            FuzzRequire(w[4] == 2 && w[6] == 50, "a write to a page the program does not use");
            FuzzRequire(product == kModelRaw0100, "the grid cleared on a model that keeps it");
            FuzzRequire(!gridWritten, "page 2 written twice");
            gridWritten = true;
            FuzzRequire(i >= 1 && groups[i - 1].ok && log[groups[i - 1].first].set &&
                            log[groups[i - 1].first].data[0] == 5 &&
                            log[groups[i - 1].first].data[4] == 1,
                        "the grid cleared without a stored page 1 just before");
            for (int b = 8; b < 72; ++b) {
                FuzzRequire(w[b] == 0, "the grid clear carries data");
            }
            writes.gridCleared = groups[i].ok;
        }
    }
    return writes;
}
