#include "inproc/inproc_guardian.h"

#include <mutex>

#include "inproc/virtual_clock.h"

namespace {

std::mutex lock;
GuardianRecord record;

}  // namespace

void SimGuardianReset()
{
    std::lock_guard<std::mutex> guard(lock);
    record = {};
}

GuardianRecord SimGuardianRecord()
{
    std::lock_guard<std::mutex> guard(lock);
    return record;
}

bool GuardianStart(HidHandle device)
{
    std::lock_guard<std::mutex> guard(lock);
    if (HidIsOpen(device)) {
        ++record.starts;
    }
    return HidIsOpen(device);
}

void GuardianArm(const GuardianPlan& plan)
{
    const std::uint64_t now = VirtualNowMs();
    std::lock_guard<std::mutex> guard(lock);
    record.armings.push_back({now, plan});
}

void GuardianRelease()
{
    std::lock_guard<std::mutex> guard(lock);
    ++record.releases;
}
