#pragma once
// The one line a platform layer writes for each failed feature transfer.

#include <cstdint>
#include <string>

struct FailedTransfer {
    bool set = true;                // direction
    std::uint8_t reportId = 0;      // byte 0 of the caller's buffer
    std::uint32_t length = 0;       // the caller's report length
    std::uint32_t passed = 0;       // the length handed to the operating system
    unsigned long error = 0;        // the operating system's error code
    std::string meaning;            // the system's text for it, as the system words it
    std::int64_t transferred = -1;  // bytes the call moved when it returned a short count, else -1
};

// "qavel: set feature report 03, 8 bytes: error 87 (The parameter is incorrect)" and the like,
// ending in a newline; names the length passed to the system when it differs from the report's,
// and a short count when one came. The meaning is left out when there is none.
std::string DescribeFailedTransfer(const FailedTransfer& failure);
