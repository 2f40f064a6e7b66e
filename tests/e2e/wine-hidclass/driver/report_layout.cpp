#include "report_layout.h"

#include <algorithm>

namespace {

// Item tags (prefix byte without its size bits).
constexpr std::uint8_t kFeature = 0xB0;
constexpr std::uint8_t kCollection = 0xA0;
constexpr std::uint8_t kEndCollection = 0xC0;
constexpr std::uint8_t kReportSize = 0x74;
constexpr std::uint8_t kReportId = 0x84;
constexpr std::uint8_t kReportCount = 0x94;
constexpr std::uint8_t kPush = 0xA4;
constexpr std::uint8_t kPop = 0xB4;
constexpr std::uint8_t kLongItem = 0xFE;

}  // namespace

bool ParseReportLayout(const std::vector<std::uint8_t>& descriptor, ReportLayout* layout)
{
    *layout = ReportLayout{};
    std::vector<std::uint64_t> bits;  // per entry of layout->features
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
    int depth = 0;
    std::size_t i = 0;
    while (i < descriptor.size()) {
        const std::uint8_t prefix = descriptor[i];
        if (prefix == kLongItem) {
            if (i + 3 > descriptor.size() || i + 3 + descriptor[i + 1] > descriptor.size()) {
                return false;
            }
            i += 3 + descriptor[i + 1];
            continue;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + size > descriptor.size()) {
            return false;
        }
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < size; ++k) {
            value |= static_cast<std::uint32_t>(descriptor[i + 1 + k]) << (8 * k);
        }
        i += 1 + size;
        switch (prefix & 0xFC) {
        case kReportSize: reportSize = value; break;
        case kReportCount: reportCount = value; break;
        case kReportId:
            if (value == 0 || value > 0xFF) {
                return false;
            }
            reportId = static_cast<std::uint8_t>(value);
            break;
        case kPush:
        case kPop: return false;
        case kCollection:
            if (depth == 0) {
                ++layout->collections;
            }
            ++depth;
            break;
        case kEndCollection:
            if (depth == 0) {
                return false;
            }
            --depth;
            if (depth == 0) {
                layout->collectionEnds.push_back(i);
            }
            break;
        case kFeature: {
            if (depth == 0) {
                return false;
            }
            auto found = std::find_if(layout->features.begin(), layout->features.end(),
                                      [&](const ReportInfo& r) { return r.id == reportId; });
            if (found == layout->features.end()) {
                layout->features.push_back({reportId, 0, layout->collections - 1});
                bits.push_back(0);
                found = layout->features.end() - 1;
            }
            bits[static_cast<std::size_t>(found - layout->features.begin())] +=
                static_cast<std::uint64_t>(reportSize) * reportCount;
            break;
        }
        default: break;
        }
    }
    if (depth != 0) {
        return false;
    }
    for (std::size_t r = 0; r < layout->features.size(); ++r) {
        // Windows counts the id byte whether or not the device numbers its reports.
        layout->features[r].length = static_cast<std::uint32_t>((bits[r] + 7) / 8 + 1);
    }
    return true;
}

const ReportInfo* FindFeatureReport(const ReportLayout& layout, std::uint8_t id)
{
    for (const ReportInfo& report : layout.features) {
        if (report.id == id) {
            return &report;
        }
    }
    return nullptr;
}

std::uint32_t CollectionFeatureLength(const ReportLayout& layout, int collection)
{
    std::uint32_t longest = 0;
    for (const ReportInfo& report : layout.features) {
        if (report.collection == collection) {
            longest = std::max(longest, report.length);
        }
    }
    return longest;
}

std::vector<std::uint8_t> CollectionDescriptor(const std::vector<std::uint8_t>& descriptor,
                                               const ReportLayout& layout, int collection)
{
    if (collection < 0 || static_cast<std::size_t>(collection) >= layout.collectionEnds.size() ||
        layout.collectionEnds.back() > descriptor.size()) {
        return {};
    }
    const std::size_t begin = collection == 0 ? 0 : layout.collectionEnds[collection - 1];
    const std::size_t end = layout.collectionEnds[collection];
    return std::vector<std::uint8_t>(descriptor.begin() + static_cast<std::ptrdiff_t>(begin),
                                     descriptor.begin() + static_cast<std::ptrdiff_t>(end));
}
