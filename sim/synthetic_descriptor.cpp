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

}  // namespace

std::vector<std::uint8_t> SyntheticReportDescriptor(bool featureValues)
{
    std::vector<std::uint8_t> d = {
        0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    };
    for (const FeatureReport& report : kReports) {
        const std::uint32_t bits = static_cast<std::uint32_t>(report.length - 1) * 8;
        d.insert(d.end(), {0x85, report.id, 0x09, report.id});
        if (featureValues) {
            d.insert(d.end(), {0x75, 0x08, 0x95, static_cast<std::uint8_t>(report.length - 1)});
        } else {
            d.insert(d.end(), {0x75, 0x01, 0x96, static_cast<std::uint8_t>(bits & 0xFF),
                               static_cast<std::uint8_t>(bits >> 8)});
        }
        d.insert(d.end(), {0xB1, 0x02});  // Feature (Data, Var, Abs)
    }
    d.push_back(0xC0);
    return d;
}
