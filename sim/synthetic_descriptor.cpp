#include "synthetic_descriptor.h"

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
    return d;
}
