#pragma once
// What the design says about the raw models' page traffic, checked over a fake device's log.

#include <cstdint>
#include <vector>

#include "controller/session.h"
#include "fake_device.h"

struct PageWrites {
    bool calibrationStored = false;  // the page-1 write succeeded
    bool gridCleared = false;        // the page-2 write succeeded
};

// Every report-5 write is a raw model's, under report 5 with the header of page 1 or 2. A page-1
// write comes right after its selection and a read answered under report 5, carries the limits
// computed from the session's three points (and the grid read before it), and keeps every other
// byte as read; a page-2 write clears model 0x0100's grid right after a stored page 1.
PageWrites RequirePageRules(const std::vector<FakeTransfer>& log,
                            const std::vector<LogicalTransfer>& groups, std::uint32_t product,
                            const ControllerSession& points);

// The last attempt of a group: the one whose outcome counts.
const FakeTransfer& Outcome(const std::vector<FakeTransfer>& log, const LogicalTransfer& group);

// True when the group is a set of exactly these bytes.
bool IsSetOf(const std::vector<FakeTransfer>& log, const LogicalTransfer& group,
             const std::vector<std::uint8_t>& bytes);
