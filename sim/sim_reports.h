#pragma once
// Report layouts of the simulated controller that tests want to check on their own.

#include <cstdint>

// One sample slot of raw report 8.
struct SimRawSample {
    bool present = false;
    bool touching = false;
    std::int32_t x = 0;  // controller units, -2048..2047 (wider values are clamped)
    std::int32_t y = 0;
};

// Packs two slots into report 8 (8 bytes, byte 0 = 8); an absent slot leaves its bits zero.
void SimPackRawReport(const SimRawSample& slot1, const SimRawSample& slot2, std::uint8_t report[8]);

// Reads a 12-bit two's complement field (bits above 11 ignored).
std::int32_t SimDecodeCoordinate(std::uint32_t field);

// The byte the controller keeps at report-5 position reportPos (8..71) of a page beyond its
// data until something else is written there: never zero, different per page and position.
std::uint8_t SimPageFillByte(int page, int reportPos);
