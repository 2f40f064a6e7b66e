// The replacement hid.dll's view of Windows' HID class driver: caps read from report descriptors,
// and which feature transfers are accepted, at which length.

#include "hid_class_rules.h"
#include "synthetic_descriptor.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

namespace {

std::vector<HidCollectionCaps> Caps(const std::vector<std::uint8_t>& descriptor)
{
    std::vector<HidCollectionCaps> caps;
    EXPECT_TRUE(ParseCollectionCaps(descriptor.data(), descriptor.size(), &caps));
    return caps;
}

HidCollectionCaps SyntheticCaps(const SimDeviceSpec& spec)
{
    const std::vector<HidCollectionCaps> caps = Caps(SyntheticReportDescriptor(spec));
    EXPECT_EQ(1u, caps.size());
    return caps.empty() ? HidCollectionCaps{} : caps[0];
}

std::uint32_t LengthOf(const HidCollectionCaps& caps, std::uint8_t id)
{
    for (const HidFeatureReport& report : caps.featureReports) {
        if (report.id == id)
            return report.length;
    }
    return 0;
}

TEST(CollectionCaps, SyntheticControllerLongestFeatureReportPlusId)
{
    const HidCollectionCaps caps = SyntheticCaps(SimDeviceSpec{});
    EXPECT_EQ(0xFF00, caps.usagePage);
    EXPECT_EQ(1, caps.usage);
    EXPECT_EQ(72, caps.featureReportByteLength);
    EXPECT_EQ(0, caps.inputReportByteLength);
    EXPECT_TRUE(caps.numbered);
    EXPECT_EQ(7, caps.numberFeatureValueCaps);
    EXPECT_EQ(0, caps.numberFeatureButtonCaps);
    ASSERT_EQ(7u, caps.featureReports.size());
    EXPECT_EQ(8u, LengthOf(caps, 0x03));
    EXPECT_EQ(72u, LengthOf(caps, 0x05));
    EXPECT_EQ(64u, LengthOf(caps, 0x09));
    EXPECT_EQ(20u, LengthOf(caps, 0x80));

    SimDeviceSpec flags;
    flags.featureValues = false;
    const HidCollectionCaps flagCaps = SyntheticCaps(flags);
    EXPECT_EQ(0, flagCaps.numberFeatureValueCaps);
    EXPECT_EQ(7, flagCaps.numberFeatureButtonCaps);
    EXPECT_EQ(72, flagCaps.featureReportByteLength);  // the same reports, as bits

    SimDeviceSpec wide;
    wide.extraReportId = 0x20;
    wide.extraReportLength = 130;
    const HidCollectionCaps wideCaps = SyntheticCaps(wide);
    EXPECT_EQ(130, wideCaps.featureReportByteLength);
    EXPECT_EQ(130u, LengthOf(wideCaps, 0x20));
    EXPECT_EQ(8u, LengthOf(wideCaps, 0x03));
}

TEST(CollectionCaps, CountsPerTopLevelCollectionAndSumsItemsOfOneReport)
{
    const std::vector<std::uint8_t> descriptor = {
        0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01,                          // Digitizer / Touch Screen
        0x85, 0x01, 0x09, 0x42, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02,  // input: tip switch
        0x75, 0x07, 0x95, 0x01, 0x81, 0x03,                          // input padding
        0x09, 0x30, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02,              // input: two words
        0xA1, 0x00, 0xC0,                                            // a nested collection
        0xC0,                                                        //
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                    // vendor collection
        0x85, 0x02, 0x09, 0x01, 0x75, 0x08, 0x95, 0x07, 0xB1, 0x02,  // feature 2: 7 bytes
        0x85, 0x03, 0x09, 0x02, 0x75, 0x08, 0x95, 0x03, 0xB1, 0x02,  // feature 3: 3 bytes ...
        0x75, 0x04, 0x95, 0x01, 0xB1, 0x03,                          // ... and half a byte
        0x85, 0x04, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x02,              // feature 4: no usage, no cap
        0xC0,
    };
    const std::vector<HidCollectionCaps> caps = Caps(descriptor);
    ASSERT_EQ(2u, caps.size());
    EXPECT_EQ(0x0D, caps[0].usagePage);
    EXPECT_EQ(0x04, caps[0].usage);
    EXPECT_EQ(6, caps[0].inputReportByteLength);
    EXPECT_EQ(0, caps[0].featureReportByteLength);
    EXPECT_EQ(0, caps[0].numberFeatureValueCaps);
    EXPECT_EQ(2, caps[0].numberLinkCollectionNodes);
    EXPECT_EQ(0xFF00, caps[1].usagePage);
    EXPECT_EQ(8, caps[1].featureReportByteLength);
    EXPECT_EQ(2, caps[1].numberFeatureValueCaps);
    EXPECT_EQ(5u, LengthOf(caps[1], 0x03));  // 28 bits round up to 4 bytes, plus the id
    EXPECT_EQ(3u, LengthOf(caps[1], 0x04));
}

TEST(CollectionCaps, MalformedDescriptorsHaveNoCaps)
{
    const std::vector<std::vector<std::uint8_t>> bad = {
        {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0xB1},                    // truncated item
        {0xA1, 0x01},                                                  // collection left open
        {0xC0},                                                        // end without a collection
        {0x75, 0x08, 0x95, 0x01, 0xB1, 0x02},                          // data outside a collection
        {0xA1, 0x01, 0x85, 0x00, 0xC0},                                // report id 0
        {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02,               // unnumbered, then
         0x85, 0x02, 0x95, 0x01, 0xB1, 0x02, 0xC0},                    // numbered
        {0xA1, 0x01, 0x75, 0x08, 0x96, 0xFF, 0xFF, 0xB1, 0x02, 0xC0},  // beyond 16-bit caps
        {0xB4},                                                        // pop without push
        {0xA1, 0x01, 0x26, 0xFF},                                      // item cut short
        {0xFE},                                                        // long item, no size
        {0xFE, 0x04, 0x00, 0x01},                                      // long item cut short
    };
    for (const std::vector<std::uint8_t>& descriptor : bad) {
        std::vector<HidCollectionCaps> caps(1);
        EXPECT_FALSE(ParseCollectionCaps(descriptor.data(), descriptor.size(), &caps))
            << "descriptor of " << descriptor.size() << " bytes";
        EXPECT_EQ(1u, caps.size());
    }
}

struct Expected {
    std::uint8_t id;
    std::uint32_t length;
};

constexpr Expected kControllerReports[] = {
    {0x03, 8}, {0x05, 72}, {0x06, 64}, {0x08, 8}, {0x09, 64}, {0x10, 8}, {0x80, 20},
};

void ExpectControllerReports(const HidCollectionCaps& caps)
{
    ASSERT_EQ(caps.featureReports.size(), std::size(kControllerReports));
    for (const Expected& e : kControllerReports) {
        EXPECT_EQ(LengthOf(caps, e.id), e.length) << "report " << int(e.id);
    }
    EXPECT_EQ(caps.featureReportByteLength, 72);
    EXPECT_EQ(LengthOf(caps, 0x01), 0u);
    EXPECT_EQ(LengthOf(caps, 0x00), 0u);
}

TEST(CollectionCaps, EveryControllerReportWithAndWithoutFeatureValues)
{
    // 1-bit flags declare no values but make reports of the same lengths.
    for (bool featureValues : {true, false}) {
        SCOPED_TRACE(featureValues);
        ExpectControllerReports(SyntheticCaps(SimDeviceSpec{0, 0, featureValues}));
    }
}

TEST(CollectionCaps, CompositeDeviceSplitsIntoItsCollections)
{
    SimDeviceSpec spec;
    spec.vendor = 0x0596;
    spec.product = 0x0102;
    spec.composite = true;
    const std::vector<std::uint8_t> whole = SyntheticReportDescriptor(spec);
    const std::vector<HidCollectionCaps> caps = Caps(whole);
    ASSERT_EQ(caps.size(), 2u);
    ExpectControllerReports(caps[1]);
    EXPECT_EQ(caps[0].featureReportByteLength, 0);

    // The touch collection alone declares no feature report at all.
    const std::vector<std::uint8_t> touch = CollectionDescriptor(whole, caps, 0);
    const std::vector<HidCollectionCaps> touchCaps = Caps(touch);
    ASSERT_EQ(touchCaps.size(), 1u);
    EXPECT_TRUE(touchCaps[0].featureReports.empty());
    ASSERT_GE(touch.size(), 2u);
    EXPECT_EQ(touch[0], 0x05);  // starts with its usage page, digitizer
    EXPECT_EQ(touch[1], 0x0D);

    // The controller's collection alone is the plain device's descriptor.
    EXPECT_EQ(CollectionDescriptor(whole, caps, 1), SyntheticReportDescriptor(SimDeviceSpec{}));
    EXPECT_TRUE(CollectionDescriptor(whole, caps, 2).empty());
    EXPECT_TRUE(CollectionDescriptor(whole, caps, -1).empty());

    spec.composite = false;
    EXPECT_EQ(SyntheticReportDescriptor(spec), SyntheticReportDescriptor(SimDeviceSpec{}));
}

TEST(FeatureTransferRule, OnlyAtCapsLengthAndOnlyDeclaredIds)
{
    SimDeviceSpec wide;
    wide.extraReportId = 0x20;
    wide.extraReportLength = 130;
    const HidCollectionCaps caps = SyntheticCaps(wide);
    std::vector<std::uint8_t> buffer(200, 0);

    buffer[0] = 0x03;
    EXPECT_EQ(kErrorInvalidUserBuffer, CheckFeatureTransfer(caps, nullptr, 130).error);
    EXPECT_EQ(kErrorInvalidUserBuffer, CheckFeatureTransfer(caps, buffer.data(), 0).error);
    // The report's own length, and every length short of the collection's, are refused.
    EXPECT_EQ(kErrorInvalidParameter, CheckFeatureTransfer(caps, buffer.data(), 8).error);
    EXPECT_EQ(kErrorInvalidParameter, CheckFeatureTransfer(caps, buffer.data(), 72).error);
    EXPECT_EQ(kErrorInvalidParameter, CheckFeatureTransfer(caps, buffer.data(), 129).error);
    FeatureTransferCheck check = CheckFeatureTransfer(caps, buffer.data(), 130);
    EXPECT_EQ(0u, check.error);
    EXPECT_EQ(8u, check.reportLength);
    check = CheckFeatureTransfer(caps, buffer.data(), 200);
    EXPECT_EQ(0u, check.error);
    EXPECT_EQ(8u, check.reportLength);

    buffer[0] = 0x05;
    EXPECT_EQ(72u, CheckFeatureTransfer(caps, buffer.data(), 130).reportLength);
    buffer[0] = 0x20;
    EXPECT_EQ(130u, CheckFeatureTransfer(caps, buffer.data(), 130).reportLength);
    for (const std::uint8_t id : {0x00, 0x04, 0x21, 0xFF}) {
        buffer[0] = id;
        EXPECT_EQ(kErrorInvalidParameter, CheckFeatureTransfer(caps, buffer.data(), 130).error)
            << "id " << int(id);
    }
}

TEST(FeatureTransferRule, UnnumberedReportsTakeOnlyIdZero)
{
    const std::vector<std::uint8_t> descriptor = {
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09,
        0x01, 0x75, 0x08, 0x95, 0x10, 0xB1, 0x02, 0xC0,
    };
    const std::vector<HidCollectionCaps> caps = Caps(descriptor);
    ASSERT_EQ(1u, caps.size());
    EXPECT_FALSE(caps[0].numbered);
    EXPECT_EQ(17, caps[0].featureReportByteLength);
    std::uint8_t buffer[17] = {};
    EXPECT_EQ(17u, CheckFeatureTransfer(caps[0], buffer, 17).reportLength);
    buffer[0] = 1;
    EXPECT_EQ(kErrorInvalidParameter, CheckFeatureTransfer(caps[0], buffer, 17).error);
}

TEST(FeatureTransferRule, CollectionWithoutFeatureReportsRefusesEveryId)
{
    const std::vector<std::uint8_t> descriptor = {
        0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x01, 0x09,
        0x42, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0,
    };
    const std::vector<HidCollectionCaps> caps = Caps(descriptor);
    ASSERT_EQ(1u, caps.size());
    EXPECT_EQ(0, caps[0].featureReportByteLength);
    std::uint8_t buffer[8] = {1};
    EXPECT_EQ(kErrorInvalidParameter, CheckFeatureTransfer(caps[0], buffer, 8).error);
}

}  // namespace
