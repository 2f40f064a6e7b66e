#pragma once
// Windows' HID class driver as the replacement hid.dll imitates it: a top-level collection's caps
// read from a report descriptor, and which feature transfers the driver accepts. No Windows
// headers, so the rules are tested natively as well.

#include <cstddef>
#include <cstdint>
#include <vector>

// Error codes the rules give, with their Windows values.
constexpr std::uint32_t kErrorInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;  // ERROR_INVALID_USER_BUFFER

struct HidFeatureReport {
    std::uint8_t id = 0;       // 0 when the device does not number its reports
    std::uint32_t length = 0;  // whole report, the id byte counted
};

struct HidCollectionCaps {
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    std::uint16_t inputReportByteLength =
        0;  // longest report of the kind plus the id byte; 0: none
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    std::uint16_t numberLinkCollectionNodes = 0;
    std::uint16_t numberFeatureButtonCaps = 0;
    std::uint16_t numberFeatureValueCaps = 0;
    std::uint16_t numberFeatureDataIndices = 0;
    bool numbered = false;  // the device's reports carry an id byte
    std::vector<HidFeatureReport> featureReports;
    std::size_t descriptorEnd = 0;  // one past its End Collection in the descriptor
};

// The caps of every top-level collection, in descriptor order. False (and out untouched) for a
// descriptor that is truncated, unbalanced, mixes numbered and unnumbered reports, declares report
// id 0 or a report longer than the caps fields can hold.
bool ParseCollectionCaps(const std::uint8_t* descriptor, std::size_t length,
                         std::vector<HidCollectionCaps>* out);

// The part of a descriptor that declares top-level collection `collection` alone, as Windows
// presents each collection: from the end of the one before it (so with the global items in
// between) to its own end. Empty when there is no such collection.
std::vector<std::uint8_t> CollectionDescriptor(const std::vector<std::uint8_t>& descriptor,
                                               const std::vector<HidCollectionCaps>& collections,
                                               int collection);

struct FeatureTransferCheck {
    std::uint32_t error = 0;         // 0: accepted
    std::uint32_t reportLength = 0;  // when accepted, the bytes that reach the device
};

// HidD_SetFeature / HidD_GetFeature on a collection: a null buffer or length 0 is an invalid user
// buffer; a length below FeatureReportByteLength, an id the collection does not declare, or id 0
// where reports are numbered is an invalid parameter. Longer buffers are accepted; only the
// report's own length is transferred.
FeatureTransferCheck CheckFeatureTransfer(const HidCollectionCaps& caps, const std::uint8_t* buffer,
                                          std::uint32_t length);
