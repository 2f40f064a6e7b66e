#include "calibration/calibration_pages.h"

#include <cstring>

#include "controller/transport.h"

namespace {

constexpr std::uint8_t kPageReport = 5;
constexpr std::uint32_t kPageReportLength = 72;
constexpr std::uint8_t kCalibrationPage = 1;
constexpr std::uint8_t kCalibrationPageLength = 26;
constexpr std::uint8_t kLinearizationPage = 2;
constexpr std::uint8_t kLinearizationPageLength = 50;

bool SelectPage(ControllerSession* session, std::uint8_t page, std::uint8_t length)
{
    const std::uint8_t report[8] = {3, 2, 0, 0, page, 0, length, 0};
    return SetFeatureRetry(session, report, sizeof report);
}

bool ReadPage(ControllerSession* session, std::uint8_t page, std::uint8_t length,
              std::uint8_t (&report)[kPageReportLength])
{
    if (!SelectPage(session, page, length)) {
        return false;
    }
    std::memset(report, 0, sizeof report);
    report[0] = kPageReport;
    if (!GetFeatureRetry(session, report, kPageReportLength)) {
        return false;
    }
    // The controller promises only the selected page from byte 8 on, under report 5; its header
    // need not echo the selection. An answer under another report is not the page.
    return report[0] == kPageReport;
}

void PutBigEndian16(std::uint8_t* at, std::int32_t value)
{
    at[0] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

bool ReadLinearizationGrid(ControllerSession* session, LinearizationGrid* grid)
{
    std::uint8_t report[kPageReportLength];
    if (!ReadPage(session, kLinearizationPage, kLinearizationPageLength, report)) {
        return false;
    }
    for (int k = 0; k < 25; ++k) {
        grid->dx[k] = 2.0 * static_cast<std::int8_t>(report[8 + 2 * k]);
        grid->dy[k] = 2.0 * static_cast<std::int8_t>(report[9 + 2 * k]);
    }
    return true;
}

bool StoreCalibrationPage(ControllerSession* session, const CalibrationLimits& limits)
{
    std::uint8_t report[kPageReportLength];
    if (!ReadPage(session, kCalibrationPage, kCalibrationPageLength, report)) {
        return false;
    }
    // The write names its page itself, whatever header the read came back with.
    const std::uint8_t header[8] = {
        kPageReport, 1, 0, 0, kCalibrationPage, 0, kCalibrationPageLength, 0};
    std::memcpy(report, header, sizeof header);
    PutBigEndian16(report + 8, limits.xLow);
    PutBigEndian16(report + 10, limits.xHigh);
    PutBigEndian16(report + 12, limits.yLow);
    PutBigEndian16(report + 14, limits.yHigh);
    report[28] = limits.orientation;
    return SetFeatureRetry(session, report, kPageReportLength);
}

bool ClearLinearizationPage(ControllerSession* session)
{
    std::uint8_t clear[kPageReportLength] = {
        kPageReport, 1, 0, 0, kLinearizationPage, 0, kLinearizationPageLength, 0};
    return SetFeatureRetry(session, clear, kPageReportLength);
}
