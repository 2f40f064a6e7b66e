#include "platform/linux/report_descriptor.h"

namespace {

// Short item tags with their type bits (prefix & 0xFC).
constexpr std::uint8_t kInput = 0x80;
constexpr std::uint8_t kOutput = 0x90;
constexpr std::uint8_t kFeature = 0xB0;
constexpr std::uint8_t kCollection = 0xA0;
constexpr std::uint8_t kEndCollection = 0xC0;
constexpr std::uint8_t kReportSize = 0x74;
constexpr std::uint8_t kReportCount = 0x94;
constexpr std::uint8_t kPush = 0xA4;
constexpr std::uint8_t kPop = 0xB4;
constexpr std::uint8_t kUsage = 0x08;
constexpr std::uint8_t kUsageMinimum = 0x18;
constexpr std::uint8_t kUsageMaximum = 0x28;
constexpr std::uint8_t kLongItem = 0xFE;

constexpr std::uint8_t kVariableBit = 0x02;
constexpr int kMaxPushDepth = 16;
constexpr int kMaxCollectionDepth = 64;

struct GlobalState {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
};

struct LocalState {
    bool anyNonZeroUsage = false;
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

bool DeclaresUsage(const LocalState& local)
{
    if (local.anyNonZeroUsage) {
        return true;
    }
    if (local.haveMinimum || local.haveMaximum) {
        return local.minimum != 0 || local.maximum != 0;
    }
    return false;
}

}  // namespace

std::uint32_t CountFeatureValueCaps(const std::uint8_t* descriptor, std::size_t length)
{
    if (descriptor == nullptr) {
        return 0;
    }
    GlobalState global;
    GlobalState stack[kMaxPushDepth];
    int stackDepth = 0;
    LocalState local;
    int collectionDepth = 0;
    std::uint32_t count = 0;

    std::size_t pos = 0;
    while (pos < length) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == kLongItem) {
            if (length - pos < 3) {
                return 0;
            }
            const std::size_t dataSize = descriptor[pos + 1];
            if (length - pos - 3 < dataSize) {
                return 0;
            }
            pos += 3 + dataSize;
            continue;
        }
        const int sizeCode = prefix & 0x03;
        const int size = sizeCode == 3 ? 4 : sizeCode;
        if (length - pos - 1 < static_cast<std::size_t>(size)) {
            return 0;
        }
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            value |= static_cast<std::uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
        }
        pos += 1 + size;

        switch (prefix & 0xFC) {
        case kCollection:
            if (++collectionDepth > kMaxCollectionDepth) {
                return 0;
            }
            local = LocalState{};
            break;
        case kEndCollection:
            if (collectionDepth == 0) {
                return 0;
            }
            --collectionDepth;
            local = LocalState{};
            break;
        case kInput:
        case kOutput:
            if (collectionDepth == 0) {
                return 0;
            }
            local = LocalState{};
            break;
        case kFeature:
            if (collectionDepth == 0) {
                return 0;
            }
            if (global.reportCount > 0 && (value & kVariableBit) != 0 && global.reportSize != 1 &&
                DeclaresUsage(local)) {
                ++count;
            }
            local = LocalState{};
            break;
        case kReportSize: global.reportSize = value; break;
        case kReportCount: global.reportCount = value; break;
        case kPush:
            if (stackDepth == kMaxPushDepth) {
                return 0;
            }
            stack[stackDepth++] = global;
            break;
        case kPop:
            if (stackDepth == 0) {
                return 0;
            }
            global = stack[--stackDepth];
            break;
        case kUsage:
            if (UsageId(value, size) != 0) {
                local.anyNonZeroUsage = true;
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
    if (collectionDepth != 0) {
        return 0;
    }
    return count;
}
