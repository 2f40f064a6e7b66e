// The raw models' page read, merge and write, from three measured points, against a device whose
// answers come from the fuzzer. Input: model, three points (six 16-bit values), then the answers.

#include <cstddef>
#include <cstdint>

#include "calibration/calibration_math.h"
#include "fake_device.h"
#include "page_checks.h"

namespace {

constexpr std::uint32_t kModels[3] = {kModelRaw0100, kModelRaw0102, kModelStatus0400};

std::int32_t Coordinate(const std::uint8_t* at)
{
    // Mostly near the corners, where real touches lie, yet covering the whole 12-bit range.
    const std::int32_t raw = static_cast<std::int16_t>(at[0] | (at[1] << 8));
    return raw % 2048;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 13) {
        return 0;
    }
    const std::uint32_t product = kModels[data[0] % 3];
    FakeReset(data + 13, size - 13, static_cast<std::uint16_t>(product), 0, 0);
    ControllerSession* session = OpenController();
    FuzzRequire(session != nullptr, "the one supported controller not opened");
    for (int i = 0; i < 3; ++i) {
        session->x[i] = Coordinate(data + 1 + 4 * i);
        session->y[i] = Coordinate(data + 3 + 4 * i);
    }
    session->pointCount = 3;

    const int stored = ComputeAndStoreCalibration(session);
    const std::vector<FakeTransfer>& log = FakeLog();
    const std::vector<LogicalTransfer> groups = GroupRetries(log);
    RequireRetryPolicy(log);
    const PageWrites writes = RequirePageRules(log, groups, product, *session);
    if (product == kModelStatus0400) {
        FuzzRequire(stored != 0 && log.empty(), "a self-calibrating model sent something");
    } else {
        const bool whole =
            writes.calibrationStored && (product == kModelRaw0102 || writes.gridCleared);
        FuzzRequire((stored != 0) == whole, "the result does not tell whether the page was stored");
        // Each step needs the one before it: nothing follows a failed exchange.
        for (std::size_t i = 0; i + 1 < groups.size(); ++i) {
            FuzzRequire(groups[i].ok, "an exchange after a failed one");
        }
        for (const LogicalTransfer& g : groups) {
            const FakeTransfer& t = log[g.first];
            FuzzRequire(t.set ? (t.id == 3 && t.length == 8) || (t.id == 5 && t.length == 72)
                              : t.id == 5 && t.length == 72,
                        "a report the page exchange does not use");
        }
    }
    session->productId = kModelStatus0003;
    CloseController(session);
    return 0;
}
