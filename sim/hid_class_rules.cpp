#include "hid_class_rules.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

// Short item tags with their type bits (prefix & 0xFC).
constexpr std::uint8_t kInput = 0x80;
constexpr std::uint8_t kOutput = 0x90;
constexpr std::uint8_t kFeature = 0xB0;
constexpr std::uint8_t kCollection = 0xA0;
constexpr std::uint8_t kEndCollection = 0xC0;
constexpr std::uint8_t kUsagePage = 0x04;
constexpr std::uint8_t kReportSize = 0x74;
constexpr std::uint8_t kReportId = 0x84;
constexpr std::uint8_t kReportCount = 0x94;
constexpr std::uint8_t kPush = 0xA4;
constexpr std::uint8_t kPop = 0xB4;
constexpr std::uint8_t kUsage = 0x08;
constexpr std::uint8_t kUsageMinimum = 0x18;
constexpr std::uint8_t kUsageMaximum = 0x28;
constexpr std::uint8_t kLongItem = 0xFE;

constexpr std::uint32_t kVariableBit = 0x02;
constexpr int kMaxPushDepth = 16;
constexpr int kMaxCollectionDepth = 64;
constexpr std::uint64_t kMaxReportLength = 0xFFFF;

struct Globals {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

struct Locals {
    std::uint32_t usages = 0;  // non-zero usages named one by one
    std::uint32_t lastUsage = 0;
    int lastUsageSize = 0;
    bool haveMinimum = false;
    bool haveMaximum = false;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
};

// A four-byte usage carries its page in the upper half; only the usage identifier decides "0".
std::uint32_t UsageId(std::uint32_t value, int size)
{
    return size == 4 ? (value & 0xFFFFu) : value;
}

// How many usages the item's locals name; 0 when only the usage 0 (or 0 to 0) is named.
std::uint32_t UsageCount(const Locals& local)
{
    if (local.usages > 0) {
        return local.usages;
    }
    if ((local.haveMinimum || local.haveMaximum) && (local.minimum != 0 || local.maximum != 0)) {
        return local.maximum >= local.minimum ? local.maximum - local.minimum + 1 : 1;
    }
    return 0;
}

// Report bits per kind (0 input, 1 output, 2 feature) and id, for one top-level collection.
using ReportBits = std::map<std::pair<int, std::uint32_t>, std::uint64_t>;

std::uint16_t LongestReport(const ReportBits& bits, int kind)
{
    std::uint64_t longest = 0;
    for (const auto& [key, count] : bits) {
        if (key.first == kind) {
            longest = std::max(longest, (count + 7) / 8 + 1);
        }
    }
    return static_cast<std::uint16_t>(longest);
}

}  // namespace

bool ParseCollectionCaps(const std::uint8_t* descriptor, std::size_t length,
                         std::vector<HidCollectionCaps>* out)
{
    if (descriptor == nullptr || out == nullptr) {
        return false;
    }
    std::vector<HidCollectionCaps> collections;
    std::vector<ReportBits> bits;
    Globals global;
    Globals stack[kMaxPushDepth];
    int stackDepth = 0;
    Locals local;
    int depth = 0;
    bool sawReportId = false;
    bool sawUnnumberedData = false;

    std::size_t pos = 0;
    while (pos < length) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == kLongItem) {
            if (length - pos < 3 || length - pos - 3 < descriptor[pos + 1]) {
                return false;
            }
            pos += 3 + static_cast<std::size_t>(descriptor[pos + 1]);
            continue;
        }
        const int size = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (length - pos - 1 < static_cast<std::size_t>(size)) {
            return false;
        }
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            value |= static_cast<std::uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
        }
        pos += 1 + static_cast<std::size_t>(size);

        const std::uint8_t tag = prefix & 0xFC;
        switch (tag) {
        case kCollection:
            if (depth == kMaxCollectionDepth) {
                return false;
            }
            if (depth == 0) {
                HidCollectionCaps caps;
                caps.usage = static_cast<std::uint16_t>(local.lastUsage & 0xFFFF);
                caps.usagePage = static_cast<std::uint16_t>(
                    local.lastUsageSize == 4 ? local.lastUsage >> 16 : global.usagePage);
                collections.push_back(caps);
                bits.emplace_back();
            }
            ++collections.back().numberLinkCollectionNodes;
            ++depth;
            local = Locals{};
            break;
        case kEndCollection:
            if (depth == 0) {
                return false;
            }
            if (--depth == 0) {
                collections.back().descriptorEnd = pos;
            }
            local = Locals{};
            break;
        case kInput:
        case kOutput:
        case kFeature: {
            if (depth == 0) {
                return false;
            }
            const std::uint64_t itemBits =
                static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
            if (itemBits > 0) {
                sawUnnumberedData = sawUnnumberedData || global.reportId == 0;
                const int kind = tag == kInput ? 0 : tag == kOutput ? 1 : 2;
                std::uint64_t& total = bits.back()[{kind, global.reportId}];
                total += itemBits;
                if ((total + 7) / 8 + 1 > kMaxReportLength) {
                    return false;
                }
            }
            const std::uint32_t usages = UsageCount(local);
            if (tag == kFeature && global.reportCount > 0 && usages > 0) {
                HidCollectionCaps& caps = collections.back();
                if ((value & kVariableBit) != 0 && global.reportSize != 1) {
                    ++caps.numberFeatureValueCaps;
                } else {
                    ++caps.numberFeatureButtonCaps;
                }
                caps.numberFeatureDataIndices = static_cast<std::uint16_t>(
                    std::min<std::uint32_t>(0xFFFF, caps.numberFeatureDataIndices + usages));
            }
            local = Locals{};
            break;
        }
        case kUsagePage: global.usagePage = value; break;
        case kReportSize: global.reportSize = value; break;
        case kReportCount: global.reportCount = value; break;
        case kReportId:
            if (value == 0 || value > 0xFF) {
                return false;
            }
            global.reportId = value;
            sawReportId = true;
            break;
        case kPush:
            if (stackDepth == kMaxPushDepth) {
                return false;
            }
            stack[stackDepth++] = global;
            break;
        case kPop:
            if (stackDepth == 0) {
                return false;
            }
            global = stack[--stackDepth];
            break;
        case kUsage:
            local.lastUsage = value;
            local.lastUsageSize = size;
            if (UsageId(value, size) != 0) {
                ++local.usages;
            }
            break;
        case kUsageMinimum:
            local.haveMinimum = true;
            local.minimum = UsageId(value, size);
            break;
        case kUsageMaximum:
            local.haveMaximum = true;
            local.maximum = UsageId(value, size);
            break;
        default: break;
        }
    }
    if (depth != 0 || (sawReportId && sawUnnumberedData)) {
        return false;
    }
    for (std::size_t i = 0; i < collections.size(); ++i) {
        HidCollectionCaps& caps = collections[i];
        caps.numbered = sawReportId;
        caps.inputReportByteLength = LongestReport(bits[i], 0);
        caps.outputReportByteLength = LongestReport(bits[i], 1);
        caps.featureReportByteLength = LongestReport(bits[i], 2);
        for (const auto& [key, count] : bits[i]) {
            if (key.first == 2) {
                caps.featureReports.push_back({static_cast<std::uint8_t>(key.second),
                                               static_cast<std::uint32_t>((count + 7) / 8 + 1)});
            }
        }
    }
    *out = std::move(collections);
    return true;
}

std::vector<std::uint8_t> CollectionDescriptor(const std::vector<std::uint8_t>& descriptor,
                                               const std::vector<HidCollectionCaps>& collections,
                                               int collection)
{
    if (collection < 0 || static_cast<std::size_t>(collection) >= collections.size()) {
        return {};
    }
    const std::size_t index = static_cast<std::size_t>(collection);
    const std::size_t begin = index == 0 ? 0 : collections[index - 1].descriptorEnd;
    const std::size_t end = collections[index].descriptorEnd;
    if (end > descriptor.size() || begin > end) {
        return {};
    }
    return std::vector<std::uint8_t>(descriptor.begin() + static_cast<std::ptrdiff_t>(begin),
                                     descriptor.begin() + static_cast<std::ptrdiff_t>(end));
}

FeatureTransferCheck CheckFeatureTransfer(const HidCollectionCaps& caps, const std::uint8_t* buffer,
                                          std::uint32_t length)
{
    if (buffer == nullptr || length == 0) {
        return {kErrorInvalidUserBuffer, 0};
    }
    if (length < caps.featureReportByteLength) {
        return {kErrorInvalidParameter, 0};
    }
    const std::uint8_t id = buffer[0];
    if (caps.numbered == (id == 0)) {
        return {kErrorInvalidParameter, 0};
    }
    for (const HidFeatureReport& report : caps.featureReports) {
        if (report.id == id) {
            return {0, report.length};
        }
    }
    return {kErrorInvalidParameter, 0};
}
