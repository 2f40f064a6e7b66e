#pragma once
// The feature reports a report descriptor declares, per top-level collection, as the HID class
// driver counts them: the lengths the test minidriver checks transfers against.

#include <cstddef>
#include <cstdint>
#include <vector>

struct ReportInfo {
    std::uint8_t id = 0;
    std::uint32_t length = 0;  // the id byte included
    int collection = 0;        // top-level collection, 0-based
};

struct ReportLayout {
    std::vector<ReportInfo> features;
    int collections = 0;
    // Where each top-level collection ends in the descriptor (one past its End Collection).
    std::vector<std::size_t> collectionEnds;
};

// False for a descriptor this walker does not follow (truncated items, unbalanced collections,
// a main item outside every collection, push and pop).
bool ParseReportLayout(const std::vector<std::uint8_t>& descriptor, ReportLayout* layout);

// The feature report with that id, or null.
const ReportInfo* FindFeatureReport(const ReportLayout& layout, std::uint8_t id);

// FeatureReportByteLength of a collection: its longest feature report, or 0 without one.
std::uint32_t CollectionFeatureLength(const ReportLayout& layout, int collection);

// The part of a descriptor that declares top-level collection `collection` alone: from the end
// of the one before it (so with the global items in between) to its own end. Empty if none.
std::vector<std::uint8_t> CollectionDescriptor(const std::vector<std::uint8_t>& descriptor,
                                               const ReportLayout& layout, int collection);
