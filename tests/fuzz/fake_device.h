#pragma once
// A controller whose answers come from fuzzer bytes, behind the HID, time and display seams, with
// a log of every transfer for the harnesses' invariants.
//
// Each transfer attempt takes one control byte c (none left: the device is gone, every attempt
// fails). c & 3: 0 fails; 1 succeeds (a get repeats the last answer to that report id); 2 succeeds
// and a get takes bytes 1.. from the input, byte 0 kept as asked; 3 succeeds and a get takes every
// byte from the input. c >> 2 more attempts then behave the same without taking input.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_require.h"

struct FakeTransfer {
    bool set;
    std::uint8_t id;  // byte 0 as the program asked or sent
    std::uint32_t length;
    bool ok;
    std::uint64_t atMs;              // virtual time of the attempt
    std::vector<std::uint8_t> data;  // set: the bytes sent; get: the answer (empty when failed)
};

struct FakeDisplay {
    int doneMessages = 0;
    std::int32_t result = -1;
    int targetsShown = 0;
    int noticeDepth = 0;
    int noticesShown = 0;
    bool noticeNested = false;
};

// Reads the bytes for the answers; the clock restarts at 0 with the calendar reading offsetMs.
// Raises abortRequested just before the transfer attempt numbered abortAt (0: never).
void FakeReset(const std::uint8_t* data, std::size_t size, std::uint16_t product,
               std::uint32_t offsetMs, std::size_t abortAt);

const std::vector<FakeTransfer>& FakeLog();
const FakeDisplay& FakeDisplayState();
std::uint64_t FakeNowMs();
bool FakeAbortRaised();

// Attempts grouped as the transport's retries: up to 10 failures, then a success or the end.
struct LogicalTransfer {
    std::size_t first;     // index of its first attempt in the log
    std::size_t attempts;  // 1 to 10
    bool ok;
};
std::vector<LogicalTransfer> GroupRetries(const std::vector<FakeTransfer>& log);

// Checks each retry group: same transfer repeated, at most 10 attempts, each after a 100 ms pause.
void RequireRetryPolicy(const std::vector<FakeTransfer>& log);
