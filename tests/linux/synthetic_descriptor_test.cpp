#include "synthetic_descriptor.h"

#include <gtest/gtest.h>

#include "hid_class_rules.h"
#include "platform/linux/report_descriptor.h"

// The simulated devices must be judged by the same parser as real hardware, and the replacement
// hid.dll's caps must agree with it.
TEST(SyntheticDescriptor, FeatureValuesOnlyWhenDeclared)
{
    SimDeviceSpec plain;
    SimDeviceSpec wide;
    wide.extraReportId = 0x20;
    wide.extraReportLength = 4096;
    for (SimDeviceSpec spec : {plain, wide}) {
        spec.featureValues = true;
        const std::vector<std::uint8_t> with = SyntheticReportDescriptor(spec);
        spec.featureValues = false;
        const std::vector<std::uint8_t> without = SyntheticReportDescriptor(spec);
        const std::uint32_t count = CountFeatureValueCaps(with.data(), with.size());
        EXPECT_GT(count, 0u);
        EXPECT_EQ(0u, CountFeatureValueCaps(without.data(), without.size()));
        EXPECT_LE(with.size(), 4096u);

        std::vector<HidCollectionCaps> caps;
        ASSERT_TRUE(ParseCollectionCaps(with.data(), with.size(), &caps));
        ASSERT_EQ(1u, caps.size());
        EXPECT_EQ(count, caps[0].numberFeatureValueCaps);
        ASSERT_TRUE(ParseCollectionCaps(without.data(), without.size(), &caps));
        ASSERT_EQ(1u, caps.size());
        EXPECT_EQ(0u, caps[0].numberFeatureValueCaps);
    }
}
