#include "bridge_descriptor.h"

namespace {

constexpr std::size_t kMaxDescriptor = 4096;  // the kernel's HID_MAX_DESCRIPTOR_SIZE

struct GlobalState {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

}  // namespace

std::vector<std::uint8_t> PadReportDescriptor(const std::vector<std::uint8_t>& descriptor,
                                              std::size_t size)
{
    if (size < descriptor.size() || size > kMaxDescriptor) {
        return {};
    }
    // Logical Minimum with no data bytes: one byte per item, any length reachable.
    std::vector<std::uint8_t> padded(size - descriptor.size(), 0x14);
    padded.insert(padded.end(), descriptor.begin(), descriptor.end());
    return padded;
}

bool FeatureReportLengths(const std::uint8_t* descriptor, std::size_t length,
                          std::array<std::uint32_t, 256>* lengths)
{
    if (descriptor == nullptr || lengths == nullptr) {
        return false;
    }
    lengths->fill(0);
    std::array<std::uint64_t, 256> bits{};
    std::vector<GlobalState> stack;
    GlobalState global;
    bool unnumberedFeature = false;
    std::size_t pos = 0;
    while (pos < length) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == 0xFE) {  // long item: its size is in the next byte
            if (pos + 1 >= length) {
                return false;
            }
            pos += 3 + static_cast<std::size_t>(descriptor[pos + 1]);
            if (pos > length) {
                return false;
            }
            continue;
        }
        const std::size_t dataSize = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (pos + 1 + dataSize > length) {
            return false;
        }
        std::uint32_t data = 0;
        for (std::size_t i = 0; i < dataSize; ++i) {
            data |= static_cast<std::uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
        }
        pos += 1 + dataSize;
        switch (prefix & 0xFC) {
        case 0x74: global.reportSize = data; break;
        case 0x94: global.reportCount = data; break;
        case 0x84:
            if (data == 0 || data > 255) {
                return false;
            }
            global.reportId = data;
            break;
        case 0xA4: stack.push_back(global); break;
        case 0xB4:
            if (stack.empty()) {
                return false;
            }
            global = stack.back();
            stack.pop_back();
            break;
        case 0xB0:  // Feature
            if (global.reportId == 0) {
                unnumberedFeature = true;
            } else {
                bits[global.reportId] +=
                    static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
            }
            break;
        default: break;
        }
    }
    if (unnumberedFeature) {
        return false;
    }
    for (std::size_t id = 1; id < bits.size(); ++id) {
        if (bits[id] != 0) {
            (*lengths)[id] = static_cast<std::uint32_t>(1 + (bits[id] + 7) / 8);
        }
    }
    return true;
}
