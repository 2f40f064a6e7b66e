// The lengths the test minidriver holds feature transfers to, read from the descriptors the
// simulated devices present.

#include "report_layout.h"
#include "synthetic_descriptor.h"

#include <gtest/gtest.h>

namespace {

struct Expected {
    std::uint8_t id;
    std::uint32_t length;
};

constexpr Expected kControllerReports[] = {
    {0x03, 8}, {0x05, 72}, {0x06, 64}, {0x08, 8}, {0x09, 64}, {0x10, 8}, {0x80, 20},
};

void ExpectControllerReports(const ReportLayout& layout, int collection)
{
    ASSERT_EQ(layout.features.size(), std::size(kControllerReports));
    for (const Expected& e : kControllerReports) {
        const ReportInfo* report = FindFeatureReport(layout, e.id);
        ASSERT_NE(report, nullptr) << "report " << int(e.id);
        EXPECT_EQ(report->length, e.length) << "report " << int(e.id);
        EXPECT_EQ(report->collection, collection) << "report " << int(e.id);
    }
    EXPECT_EQ(CollectionFeatureLength(layout, collection), 72u);
}

}  // namespace

TEST(ReportLayout, ControllerReportsWithAndWithoutFeatureValues)
{
    // 1-bit flags declare no values but make reports of the same lengths.
    for (bool featureValues : {true, false}) {
        SCOPED_TRACE(featureValues);
        ReportLayout layout;
        ASSERT_TRUE(ParseReportLayout(SyntheticReportDescriptor(SimDeviceSpec{0, 0, featureValues}),
                                      &layout));
        EXPECT_EQ(layout.collections, 1);
        ExpectControllerReports(layout, 0);
        EXPECT_EQ(FindFeatureReport(layout, 0x01), nullptr);
        EXPECT_EQ(FindFeatureReport(layout, 0x00), nullptr);
    }
}

TEST(ReportLayout, CompositeDeviceSplitsIntoItsCollections)
{
    SimDeviceSpec spec;
    spec.vendor = 0x0596;
    spec.product = 0x0102;
    spec.composite = true;
    const std::vector<std::uint8_t> whole = SyntheticReportDescriptor(spec);
    ReportLayout layout;
    ASSERT_TRUE(ParseReportLayout(whole, &layout));
    ASSERT_EQ(layout.collections, 2);
    ExpectControllerReports(layout, 1);
    EXPECT_EQ(CollectionFeatureLength(layout, 0), 0u);

    // The touch collection alone declares no feature report at all.
    const std::vector<std::uint8_t> touch = CollectionDescriptor(whole, layout, 0);
    ReportLayout touchLayout;
    ASSERT_TRUE(ParseReportLayout(touch, &touchLayout));
    EXPECT_EQ(touchLayout.collections, 1);
    EXPECT_TRUE(touchLayout.features.empty());
    EXPECT_EQ(touch[0], 0x05);  // starts with its usage page, digitizer
    EXPECT_EQ(touch[1], 0x0D);

    // The controller's collection alone is the plain device's descriptor.
    EXPECT_EQ(CollectionDescriptor(whole, layout, 1), SyntheticReportDescriptor(SimDeviceSpec{}));
    EXPECT_TRUE(CollectionDescriptor(whole, layout, 2).empty());
    EXPECT_TRUE(CollectionDescriptor(whole, layout, -1).empty());

    spec.composite = false;
    EXPECT_EQ(SyntheticReportDescriptor(spec), SyntheticReportDescriptor(SimDeviceSpec{}));
}

TEST(ReportLayout, UnnumberedReportsCountTheIdByte)
{
    // Collection, 3 bytes of feature data without a report id, end.
    const std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75,
                                         0x08, 0x95, 0x03, 0x09, 0x01, 0xB1, 0x02, 0xC0};
    ReportLayout layout;
    ASSERT_TRUE(ParseReportLayout(d, &layout));
    ASSERT_EQ(layout.features.size(), 1u);
    EXPECT_EQ(layout.features[0].id, 0);
    EXPECT_EQ(layout.features[0].length, 4u);
}

TEST(ReportLayout, RefusesWhatItCannotFollow)
{
    const std::vector<std::vector<std::uint8_t>> bad = {
        {0xA1, 0x01, 0x26, 0xFF},                    // item cut short
        {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0xB1},  // main item cut short
        {0xA1, 0x01},                                // collection never ended
        {0xC0},                                      // end without a collection
        {0x75, 0x08, 0x95, 0x01, 0xB1, 0x02},        // feature outside every collection
        {0xA1, 0x01, 0x85, 0x00, 0xC0},              // report id 0
        {0xA1, 0x01, 0xA4, 0xB4, 0xC0},              // push and pop
        {0xFE},                                      // long item without its size
        {0xFE, 0x04, 0x00, 0x01},                    // long item cut short
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        ReportLayout layout;
        EXPECT_FALSE(ParseReportLayout(bad[i], &layout)) << "case " << i;
    }
}
