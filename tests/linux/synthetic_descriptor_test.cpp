#include "synthetic_descriptor.h"

#include <gtest/gtest.h>

#include "platform/linux/report_descriptor.h"

// The preload library's devices must be judged by the same parser as real hardware.
TEST(SyntheticDescriptor, FeatureValuesOnlyWhenDeclared)
{
    const std::vector<std::uint8_t> with = SyntheticReportDescriptor(true);
    const std::vector<std::uint8_t> without = SyntheticReportDescriptor(false);
    EXPECT_GT(CountFeatureValueCaps(with.data(), with.size()), 0u);
    EXPECT_EQ(0u, CountFeatureValueCaps(without.data(), without.size()));
    EXPECT_LE(with.size(), 4096u);
}
