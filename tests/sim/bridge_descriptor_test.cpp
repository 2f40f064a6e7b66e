// The uhid bridge's descriptor helpers: a device that answers a get request with the wrong length,
// or a padded descriptor that declares something else, would make the kernel tier test the wrong
// thing.

#include "bridge_descriptor.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/linux/report_descriptor.h"
#include "synthetic_descriptor.h"

namespace {

std::array<std::uint32_t, 256> ControllerLengths()
{
    std::array<std::uint32_t, 256> lengths{};
    lengths[0x03] = 8;
    lengths[0x05] = 72;
    lengths[0x06] = 64;
    lengths[0x08] = 8;
    lengths[0x09] = 64;
    lengths[0x10] = 8;
    lengths[0x80] = 20;
    return lengths;
}

// The controller's descriptor, with byte values or with 1-bit flags.
std::vector<std::uint8_t> Descriptor(bool featureValues)
{
    SimDeviceSpec spec;
    spec.featureValues = featureValues;
    return SyntheticReportDescriptor(spec);
}

std::array<std::uint32_t, 256> LengthsOf(const std::vector<std::uint8_t>& descriptor)
{
    std::array<std::uint32_t, 256> lengths{};
    EXPECT_TRUE(FeatureReportLengths(descriptor.data(), descriptor.size(), &lengths));
    return lengths;
}

}  // namespace

TEST(BridgeDescriptor, ReportLengthsOfTheControllersDescriptors)
{
    // Byte values and 1-bit flags cover the same bits, so both give the reports' whole lengths.
    EXPECT_EQ(ControllerLengths(), LengthsOf(Descriptor(true)));
    EXPECT_EQ(ControllerLengths(), LengthsOf(Descriptor(false)));

    // Two Feature items of one report add up; Push and Pop restore the size and count; a long
    // item is stepped over.
    const std::vector<std::uint8_t> mixed = {
        0x85, 0x07, 0x75, 0x08, 0x95, 0x03, 0xB1, 0x02,  // report 7: 3 bytes
        0xA4, 0x75, 0x01, 0x95, 0x04, 0xB1, 0x02, 0xB4,  // 4 bits more, then the state again
        0xFE, 0x02, 0x00, 0xAA, 0xBB,                    // a long item
        0xB1, 0x02,                                      // 3 bytes more
    };
    const std::array<std::uint32_t, 256> lengths = LengthsOf(mixed);
    EXPECT_EQ(1u + 7u, lengths[7]);  // 52 bits: 7 bytes after the identifier
}

TEST(BridgeDescriptor, RefusesDescriptorsItCannotAnswerFor)
{
    std::array<std::uint32_t, 256> lengths{};
    const std::vector<std::vector<std::uint8_t>> broken = {
        {0x75, 0x08, 0x95, 0x02, 0xB1, 0x02},  // a feature report without an identifier
        {0x85, 0x03, 0x75},                    // cut inside an item
        {0x85, 0x00},                          // identifier 0
        {0xB4},                                // Pop without Push
        {0xFE, 0x09, 0x00},                    // long item longer than what is left
    };
    for (const std::vector<std::uint8_t>& descriptor : broken) {
        EXPECT_FALSE(FeatureReportLengths(descriptor.data(), descriptor.size(), &lengths));
    }
    const std::vector<std::uint8_t> whole = Descriptor(true);
    EXPECT_FALSE(FeatureReportLengths(whole.data(), whole.size() - 2, &lengths))
        << "a descriptor cut short";
}

TEST(BridgeDescriptor, PaddingReachesTheSizeAndChangesNothingDeclared)
{
    for (const bool values : {true, false}) {
        const std::vector<std::uint8_t> base = Descriptor(values);
        for (const std::size_t size :
             {base.size(), base.size() + 1, std::size_t{4095}, std::size_t{4096}}) {
            const std::vector<std::uint8_t> padded = PadReportDescriptor(base, size);
            ASSERT_EQ(size, padded.size());
            EXPECT_EQ(ControllerLengths(), LengthsOf(padded));
            EXPECT_EQ(CountFeatureValueCaps(base.data(), base.size()),
                      CountFeatureValueCaps(padded.data(), padded.size()));
        }
        EXPECT_TRUE(PadReportDescriptor(base, base.size() - 1).empty());
        EXPECT_TRUE(PadReportDescriptor(base, 4097).empty());
    }
}
