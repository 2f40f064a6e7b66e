#include "platform/linux/report_descriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Count(const Bytes& bytes)
{
    // An exact-size heap copy, so that the sanitizers see any read past the end.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return CountFeatureValueCaps(copy.get(), bytes.size());
}

// A touch digitizer: finger collection with tip switch and coordinates as input, and the
// contact-count maximum as a feature value.
const Bytes kTouchDigitizer = {
    0x05, 0x0D,        // Usage Page (Digitizer)
    0x09, 0x04,        // Usage (Touch Screen)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID (1)
    0x09, 0x22,        //   Usage (Finger)
    0xA1, 0x02,        //   Collection (Logical)
    0x09, 0x42,        //     Usage (Tip Switch)
    0x15, 0x00,        //     Logical Minimum (0)
    0x25, 0x01,        //     Logical Maximum (1)
    0x75, 0x01,        //     Report Size (1)
    0x95, 0x01,        //     Report Count (1)
    0x81, 0x02,        //     Input (Data, Var, Abs)
    0x95, 0x07,        //     Report Count (7)
    0x81, 0x03,        //     Input (Const, Var): padding
    0x05, 0x01,        //     Usage Page (Generic Desktop)
    0x26, 0xFF, 0x0F,  //     Logical Maximum (4095)
    0x75, 0x10,        //     Report Size (16)
    0x95, 0x01,        //     Report Count (1)
    0x09, 0x30,        //     Usage (X)
    0x81, 0x02,        //     Input (Data, Var, Abs)
    0x09, 0x31,        //     Usage (Y)
    0x81, 0x02,        //     Input (Data, Var, Abs)
    0xC0,              //   End Collection
    0x85, 0x02,        //   Report ID (2)
    0x05, 0x0D,        //   Usage Page (Digitizer)
    0x09, 0x55,        //   Usage (Contact Count Maximum)
    0x25, 0x0A,        //   Logical Maximum (10)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x01,        //   Report Count (1)
    0xB1, 0x02,        //   Feature (Data, Var, Abs)
    0xC0,              // End Collection
};

// A boot keyboard: modifier bits and key array as input, LEDs as output; no features at all.
const Bytes kKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,              // Generic Desktop, Keyboard, Application
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,              // Keyboard page, usages E0..E7
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,  // 8 x 1 bit
    0x81, 0x02,                                      // Input (Data, Var)
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,              // reserved byte (Const)
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02,  // Output (LEDs)
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,                                      // Output padding
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00,
    0x29, 0x65, 0x81, 0x00,  // Input (Data, Array)
    0xC0,
};

// A vendor collection whose features are all 1-bit flags or an array: buttons, not values.
const Bytes kVendorOneBitFeatures = {
    0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x03,        //   Report ID (3)
    0x19, 0x01,        //   Usage Minimum (1)
    0x29, 0x08,        //   Usage Maximum (8)
    0x75, 0x01,        //   Report Size (1)
    0x95, 0x08,        //   Report Count (8)
    0xB1, 0x02,        //   Feature (Data, Var, Abs)
    0x09, 0x09,        //   Usage (9)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x04,        //   Report Count (4)
    0xB1, 0x00,        //   Feature (Data, Array)
    0xC0,              // End Collection
};

}  // namespace

TEST(ReportDescriptor, RealShapedDescriptors)
{
    EXPECT_EQ(1u, Count(kTouchDigitizer));
    EXPECT_EQ(0u, Count(kKeyboard));
    EXPECT_EQ(0u, Count(kVendorOneBitFeatures));
}

TEST(ReportDescriptor, WhatMakesAFeatureItemAValue)
{
    // Vendor collection, usage 1, size 8, count 4, then one Feature item with the given data.
    auto feature = [](std::uint8_t reportSize, std::uint8_t reportCount, std::uint8_t data,
                      const Bytes& usage) {
        Bytes bytes = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
        bytes.insert(bytes.end(), usage.begin(), usage.end());
        const Bytes rest = {0x75, reportSize, 0x95, reportCount, 0xB1, data, 0xC0};
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        return Count(bytes);
    };
    const Bytes usage5 = {0x09, 0x05};
    EXPECT_EQ(1u, feature(8, 4, 0x02, usage5));
    EXPECT_EQ(1u, feature(16, 1, 0x02, usage5));
    // Constant and logical limits are not looked at: a Const, Var item with a usage is a value.
    EXPECT_EQ(1u, feature(8, 4, 0x03, usage5));
    EXPECT_EQ(0u, feature(8, 0, 0x02, usage5));  // no count
    EXPECT_EQ(0u, feature(8, 4, 0x00, usage5));  // array
    EXPECT_EQ(0u, feature(1, 4, 0x02, usage5));  // 1-bit
    EXPECT_EQ(0u, feature(8, 4, 0x02, {}));      // no usage
    EXPECT_EQ(0u, feature(8, 4, 0x02, {0x09, 0x00}));
    EXPECT_EQ(0u, feature(8, 4, 0x02, {0x19, 0x00, 0x29, 0x00}));
    EXPECT_EQ(1u, feature(8, 4, 0x02, {0x19, 0x00, 0x29, 0x03}));
    EXPECT_EQ(0u, feature(8, 4, 0x02, {0x19, 0x00}));
    EXPECT_EQ(0u, feature(8, 4, 0x02, {0x29, 0x00}));
    // A lone end of a range is a usage of its own.
    EXPECT_EQ(1u, feature(8, 4, 0x02, {0x19, 0x03}));
    EXPECT_EQ(1u, feature(8, 4, 0x02, {0x29, 0x03}));
    // A four-byte usage carries its page; usage identifier 0 of a nonzero page is still 0.
    EXPECT_EQ(0u, feature(8, 4, 0x02, {0x0B, 0x00, 0x00, 0x00, 0xFF}));
    EXPECT_EQ(1u, feature(8, 4, 0x02, {0x0B, 0x07, 0x00, 0x00, 0xFF}));
}

TEST(ReportDescriptor, LocalUsagesEndWithEachMainItemAndGlobalsFollowPushPop)
{
    // The usage belongs to the Input item; the Feature item after it has none of its own.
    const Bytes usageConsumedByInput = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x05,
                                        0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xB1, 0x02, 0xC0};
    EXPECT_EQ(0u, Count(usageConsumedByInput));
    // So does a Feature item's: the second of two counts no usage.
    const Bytes usageConsumedByFeature = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x05,
                                          0x75, 0x08, 0x95, 0x02, 0xB1, 0x02, 0xB1, 0x02, 0xC0};
    EXPECT_EQ(1u, Count(usageConsumedByFeature));
    // And an End Collection's: a usage left before it does not reach the Feature item after it.
    const Bytes usageConsumedByEnd = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xA1, 0x02, 0x09,
                                      0x05, 0xC0, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x02, 0xC0};
    EXPECT_EQ(0u, Count(usageConsumedByEnd));

    // Push saves size 8; the 1-bit size set inside is undone by Pop before the Feature item.
    const Bytes pushPop = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95,
                           0x02, 0xA4, 0x75, 0x01, 0xB4, 0x09, 0x05, 0xB1, 0x02, 0xC0};
    EXPECT_EQ(1u, Count(pushPop));

    // Two top-level collections: the hidraw node carries both, and each value counts.
    Bytes two = kTouchDigitizer;
    two.insert(two.end(), kVendorOneBitFeatures.begin(), kVendorOneBitFeatures.end());
    two.insert(two.end(), kTouchDigitizer.begin(), kTouchDigitizer.end());
    EXPECT_EQ(2u, Count(two));
}

TEST(ReportDescriptor, PaddingAndEmptyInputsDeclareNothing)
{
    const Bytes paddingOnly = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                               0x75, 0x08, 0x95, 0x06, 0xB1, 0x03, 0xC0};
    EXPECT_EQ(0u, Count(paddingOnly));
    EXPECT_EQ(0u, Count({}));
    EXPECT_EQ(0u, CountFeatureValueCaps(nullptr, 16));
}

TEST(ReportDescriptor, MalformedBytesDeclareNothingAndAreNeverOverread)
{
    // Every proper prefix of the digitizer either cuts an item or leaves a collection open.
    for (std::size_t length = 0; length < kTouchDigitizer.size(); ++length) {
        const Bytes prefix(kTouchDigitizer.begin(), kTouchDigitizer.begin() + length);
        EXPECT_EQ(0u, Count(prefix)) << "prefix of " << length << " bytes";
    }
    // A four-byte item cut after its second data byte, at the very end of the buffer.
    EXPECT_EQ(0u, Count({0x06, 0x00, 0xFF, 0xA1, 0x01, 0x27, 0xFF, 0xFF}));
    // A whole descriptor with one feature value, then an item whose data would run past the end.
    const Bytes whole = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x05,
                         0x75, 0x08, 0x95, 0x01, 0xB1, 0x02, 0xC0};
    EXPECT_EQ(1u, Count(whole));
    for (const Bytes& cut : {Bytes{0x26, 0xFF}, Bytes{0x27, 0xFF, 0xFF, 0xFF}}) {
        Bytes trailing = whole;
        trailing.insert(trailing.end(), cut.begin(), cut.end());
        EXPECT_EQ(0u, Count(trailing)) << cut.size() << "-byte item cut at the end";
    }
    // End Collection without a collection, Feature outside any collection, Pop on empty stack.
    EXPECT_EQ(0u, Count({0xC0}));
    EXPECT_EQ(0u, Count({0x09, 0x05, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02}));
    Bytes popEmpty = kTouchDigitizer;
    popEmpty.insert(popEmpty.begin(), 0xB4);
    EXPECT_EQ(0u, Count(popEmpty));
    // Collections nested beyond any real device's depth (64), and pushes beyond the stack's (16).
    const Bytes value = {0x09, 0x05, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02};
    for (const int depth : {64, 65, 100}) {
        Bytes deep;
        for (int i = 0; i < depth; ++i) {
            deep.insert(deep.end(), {0xA1, 0x02});
        }
        deep.insert(deep.end(), value.begin(), value.end());
        deep.insert(deep.end(), depth, 0xC0);
        EXPECT_EQ(depth <= 64 ? 1u : 0u, Count(deep)) << depth << " collections";
    }
    for (const int depth : {16, 17, 40}) {
        Bytes pushes = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
        pushes.insert(pushes.end(), depth, 0xA4);
        pushes.insert(pushes.end(), depth, 0xB4);
        pushes.insert(pushes.end(), value.begin(), value.end());
        pushes.push_back(0xC0);
        EXPECT_EQ(depth <= 16 ? 1u : 0u, Count(pushes)) << depth << " pushes";
    }
}

TEST(ReportDescriptor, LongAndZeroSizeItems)
{
    // A long item (skipped whole) between the header and the value.
    Bytes withLong = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xFE, 0x03, 0xF0, 0xB1,
                      0x02, 0xC0, 0x09, 0x05, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02, 0xC0};
    EXPECT_EQ(1u, Count(withLong));
    // Its data claims more bytes than there are.
    EXPECT_EQ(0u, Count({0x06, 0x00, 0xFF, 0xA1, 0x01, 0xFE, 0x20, 0xF0, 0x00, 0xC0}));
    // Its header is cut.
    EXPECT_EQ(0u, Count({0x06, 0x00, 0xFF, 0xA1, 0x01, 0xC0, 0xFE, 0x00}));
    // After a whole descriptor with one value: a long item without data ends it well; one whose
    // header or data is one byte short spoils it.
    const auto withTail = [](const Bytes& tail) {
        Bytes bytes = kTouchDigitizer;
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return Count(bytes);
    };
    EXPECT_EQ(1u, withTail({0xFE, 0x00, 0xF0}));
    EXPECT_EQ(0u, withTail({0xFE, 0x00}));
    EXPECT_EQ(0u, withTail({0xFE, 0x02, 0xF0, 0x00}));
    // Zero-size items carry the value 0: Report Count () means no count; Feature () an array.
    EXPECT_EQ(0u, Count({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x05, 0x75, 0x08, 0x94,
                         0xB1, 0x02, 0xC0}));
    EXPECT_EQ(0u, Count({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x05, 0x75, 0x08, 0x95,
                         0x01, 0xB0, 0xC0}));
    // Collection () and End Collection () without data still nest.
    EXPECT_EQ(1u, Count({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA0, 0x09, 0x05, 0x75, 0x08, 0x95, 0x01,
                         0xB1, 0x02, 0xC0}));
}
