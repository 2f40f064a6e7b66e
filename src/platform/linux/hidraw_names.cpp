#include "platform/linux/hidraw_names.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kPrefix = "hidraw";

// The kernel numbers nodes below a few thousand; anything longer is not one of its names.
constexpr std::size_t kMaxDigits = 9;

// One field of HID_ID: hexadecimal digits only, and a value that a USB identifier can hold.
bool ParseIdField(std::string_view field, std::uint16_t* value)
{
    if (field.empty() || field.size() > 8) {
        return false;
    }
    std::uint32_t v = 0;
    for (char c : field) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) {
            return false;
        }
        v = v * 16 + static_cast<std::uint32_t>(digit);
    }
    if (v > 0xFFFF) {
        return false;
    }
    *value = static_cast<std::uint16_t>(v);
    return true;
}

bool ParseNodeNumber(const std::string& name, std::uint32_t* number)
{
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) {
        return false;
    }
    const std::string_view digits = std::string_view(name).substr(kPrefix.size());
    if (digits.size() > kMaxDigits) {
        return false;
    }
    std::uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    *number = value;
    return true;
}

}  // namespace

std::vector<std::string> HidrawPathsInOrder(const std::vector<std::string>& entryNames)
{
    std::vector<std::uint32_t> numbers;
    for (const std::string& name : entryNames) {
        std::uint32_t number = 0;
        if (ParseNodeNumber(name, &number)) {
            numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<std::string> paths;
    paths.reserve(numbers.size());
    for (std::uint32_t number : numbers) {
        paths.push_back("/dev/hidraw" + std::to_string(number));
    }
    return paths;
}

std::string UeventPathOfNode(const std::string& nodePath)
{
    constexpr std::string_view kDirectory = "/dev/";
    std::uint32_t number = 0;
    if (nodePath.compare(0, kDirectory.size(), kDirectory) != 0 ||
        !ParseNodeNumber(nodePath.substr(kDirectory.size()), &number)) {
        return {};
    }
    return "/sys/class/hidraw/hidraw" + std::to_string(number) + "/device/uevent";
}

bool ParseUeventIds(const std::string& uevent, std::uint16_t* vendor, std::uint16_t* product)
{
    constexpr std::string_view kKey = "HID_ID=";
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string::npos) {
            end = uevent.size();
        }
        const std::string_view line = std::string_view(uevent).substr(start, end - start);
        start = end + 1;
        if (line.substr(0, kKey.size()) != kKey) {
            continue;
        }
        const std::string_view ids = line.substr(kKey.size());
        const std::size_t first = ids.find(':');
        const std::size_t second = ids.find(':', first == std::string_view::npos ? 0 : first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) {
            return false;
        }
        std::uint16_t bus = 0;
        return ParseIdField(ids.substr(0, first), &bus) &&
               ParseIdField(ids.substr(first + 1, second - first - 1), vendor) &&
               ParseIdField(ids.substr(second + 1), product);
    }
    return false;
}
