#include "platform/linux/hidraw_names.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kPrefix = "hidraw";

// The kernel numbers nodes below a few thousand; anything longer is not one of its names.
constexpr std::size_t kMaxDigits = 9;

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
