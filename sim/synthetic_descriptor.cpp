#include "synthetic_descriptor.h"

#include <iterator>

namespace {

// Report identifier and total length (identifier byte included) of each feature report.
struct FeatureReport {
    std::uint8_t id;
    std::uint8_t length;
};

constexpr FeatureReport kReports[] = {
    {0x03, 8}, {0x05, 72}, {0x06, 64}, {0x08, 8}, {0x09, 64}, {0x10, 8}, {0x80, 20},
};

// One feature report of `length` bytes after its id: byte values, or as many 1-bit flags.
void AppendFeatureReport(std::vector<std::uint8_t>* d, std::uint8_t id, std::uint32_t length,
                         bool featureValues)
{
    const std::uint32_t count = featureValues ? length : length * 8;
    d->insert(d->end(),
              {0x85, id, 0x09, id, 0x75, static_cast<std::uint8_t>(featureValues ? 8 : 1), 0x96,
               static_cast<std::uint8_t>(count & 0xFF), static_cast<std::uint8_t>(count >> 8)});
    d->insert(d->end(), {0xB1, 0x02});  // Feature (Data, Var, Abs)
}

}  // namespace

bool IsSyntheticControllerReport(std::uint8_t id)
{
    for (const FeatureReport& report : kReports) {
        if (report.id == id) {
            return true;
        }
    }
    return false;
}

// The touch-screen collection a composite device declares first: one input report, id 1.
constexpr std::uint8_t kTouchCollection[] = {
    0x05, 0x0D,                          // Usage Page (Digitizer)
    0x09, 0x04,                          // Usage (Touch Screen)
    0xA1, 0x01,                          // Collection (Application)
    0x85, 0x01,                          //   Report ID (1)
    0x09, 0x22,                          //   Usage (Finger)
    0xA1, 0x02,                          //   Collection (Logical)
    0x09, 0x42,                          //     Usage (Tip Switch)
    0x15, 0x00, 0x25, 0x01,              //     Logical Minimum (0), Maximum (1)
    0x75, 0x01, 0x95, 0x01,              //     Report Size (1), Count (1)
    0x81, 0x02,                          //     Input (Data, Var, Abs)
    0x95, 0x07, 0x81, 0x03,              //     Report Count (7), Input (Constant)
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31,  // Usage Page (Generic Desktop), X, Y
    0x26, 0xFF, 0x0F,                    //     Logical Maximum (4095)
    0x75, 0x10, 0x95, 0x02,              //     Report Size (16), Count (2)
    0x81, 0x02,                          //     Input (Data, Var, Abs)
    0xC0,                                //   End Collection
    0xC0,                                // End Collection
};

std::vector<std::uint8_t> SyntheticReportDescriptor(const SimDeviceSpec& device)
{
    std::vector<std::uint8_t> d = {
        0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    };
    for (const FeatureReport& report : kReports) {
        AppendFeatureReport(&d, report.id, report.length - 1u, device.featureValues);
    }
    if (device.extraReportId != 0) {
        AppendFeatureReport(&d, device.extraReportId, device.extraReportLength - 1u,
                            device.featureValues);
    }
    d.push_back(0xC0);
    if (device.composite) {
        d.insert(d.begin(), std::begin(kTouchCollection), std::end(kTouchCollection));
    }
    return d;
}
