#pragma once
// The guardian seam in process: nothing watches, every call is recorded with its virtual time.

#include <cstdint>
#include <vector>

#include "platform/guardian.h"

struct GuardianArming {
    std::uint64_t atMs;
    GuardianPlan plan;
};

struct GuardianRecord {
    int starts = 0;
    int releases = 0;
    std::vector<GuardianArming> armings;  // in order
};

void SimGuardianReset();
GuardianRecord SimGuardianRecord();
