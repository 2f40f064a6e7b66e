// The run when no worker thread can be had: pthread_create is interposed in this test binary, so
// the program's own thread start fails exactly as it would on a machine out of threads.

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>

#include "app/session_driver.h"
#include "common/shared_state.h"
#include "core/test_support.h"
#include "inproc/inproc_hid.h"

namespace {

std::atomic<bool> refuseThreads{false};
std::atomic<int> refusedStarts{0};

using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*body)(void*), void* argument)
{
    if (refuseThreads.load()) {
        ++refusedStarts;
        return EAGAIN;
    }
    static const CreateFn real = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
    return real(thread, attributes, body, argument);
}

namespace {

const std::string kCannotStart = "message error \"Error\" \"Cannot start calibration.\"";

struct NoThreadRun {
    std::vector<std::string> events;
    std::vector<std::string> messages;
    std::vector<std::string> transfers;
    int exitCode;
};

NoThreadRun RunWithoutThreads(const std::string& scenario)
{
    SimWorld world = StartWorld(scenario);
    abortRequested.store(1);  // the start clears it even when it fails
    refuseThreads.store(true);
    refusedStarts.store(0);
    const int exitCode = RunProgram();
    refuseThreads.store(false);
    NoThreadRun run{RecordedEvents(), RecordedMessages(), Transfers(world), exitCode};
    EXPECT_EQ(SimInprocOpenCount(), 0) << "the controller is closed";
    EXPECT_EQ(refusedStarts.load(), 1) << "exactly one attempt to start the worker";
    EXPECT_EQ(abortRequested.load(), 0);
    EndWorld(&world);
    return run;
}

std::vector<std::string> WithoutTimes(const std::vector<std::string>& events)
{
    std::vector<std::string> out;
    for (const auto& e : events) {
        out.push_back(e.substr(e.find(' ') + 1));
    }
    return out;
}

TEST(NoWorkerThread, CannotStartThenTheControllerIsClosedAsUsual)
{
    // A raw model still gets its end-of-calibration mode when it is closed.
    const NoThreadRun raw = RunWithoutThreads("device 0596:0102\ntouch -1536 -1536\n");
    EXPECT_EQ(raw.exitCode, 0);
    EXPECT_EQ(raw.messages, std::vector<std::string>({kCannotStart}));
    EXPECT_EQ(WithoutTimes(raw.events), std::vector<std::string>({"window shown", "window closed"}))
        << "no target, and the window is gone before the message";
    EXPECT_EQ(raw.transfers, std::vector<std::string>({"set 03 8 ok 03 05 00 00 07 00 00 00"}))
        << "no controller call of the run, only the close";

    // The other families are closed without any traffic.
    for (const char* scenario :
         {"device 0596:0003\n", "device 0596:0300\n", "device 0596:0400\n"}) {
        const NoThreadRun run = RunWithoutThreads(scenario);
        EXPECT_EQ(run.exitCode, 0) << scenario;
        EXPECT_EQ(run.messages, std::vector<std::string>({kCannotStart})) << scenario;
        EXPECT_TRUE(run.transfers.empty()) << scenario;
    }
}

TEST(NoWorkerThread, TheNextRunStartsItsWorkerNormally)
{
    // Nothing of the failed start lingers: the same process calibrates once threads are back.
    RunWithoutThreads("device 0596:0003\n");
    SimWorld world = StartWorld("device 0596:0003\nstatus-touch\nstatus-touch\n");
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(RecordedMessages(),
              std::vector<std::string>(
                  {"message information \"Calibration\" \"Calibration completed successfully.\""}));
    EndWorld(&world);
}

}  // namespace
