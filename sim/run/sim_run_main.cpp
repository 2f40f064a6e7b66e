// Runs the whole program flow headless: the core, the in-process simulator, the virtual clock and
// a display that prints what a user would see. A test and demo tool, not part of the product.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/session_driver.h"
#include "inproc/inproc_hid.h"
#include "inproc/recording_display.h"
#include "inproc/virtual_clock.h"
#include "sim_controller.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: qavel-sim-run [--log FILE] [--escape-at MS] [--close-at MS] [--end-at MS] "
                 "SCENARIO\n");
    return 2;
}

bool ParseMs(const char* text, std::uint64_t* out)
{
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || text[0] == '-') {
        return false;
    }
    *out = value;
    return true;
}

// What the user or the system does to the window at a virtual time given on the command line.
struct TimedRequest {
    const char* option;
    void (*request)();
    bool given;
    std::uint64_t atMs;
};

}  // namespace

int main(int argc, char** argv)
{
    const char* logPath = nullptr;
    const char* scenarioPath = nullptr;
    // A session end or a signal reaches the window's loop as RequestOutsideEnd.
    TimedRequest requests[] = {{"--escape-at", PressEscape, false, 0},
                               {"--close-at", RequestClose, false, 0},
                               {"--end-at", RequestOutsideEnd, false, 0}};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        TimedRequest* timed = nullptr;
        for (TimedRequest& request : requests) {
            if (std::strcmp(arg, request.option) == 0) {
                timed = &request;
            }
        }
        if (std::strcmp(arg, "--log") == 0 && value != nullptr) {
            logPath = value;
            ++i;
        } else if (timed != nullptr) {
            if (!ParseMs(value, &timed->atMs)) {
                return Usage();
            }
            timed->given = true;
            ++i;
        } else if (arg[0] != '-' && scenarioPath == nullptr) {
            scenarioPath = arg;
        } else {
            return Usage();
        }
    }
    if (scenarioPath == nullptr) {
        return Usage();
    }

    SimScenario scenario;
    std::string error;
    if (!LoadScenarioFile(scenarioPath, &scenario, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    std::FILE* log = nullptr;
    if (logPath != nullptr) {
        log = std::fopen(logPath, "w");
        if (log == nullptr) {
            std::fprintf(stderr, "%s: cannot write the transcript\n", logPath);
            return 2;
        }
    }

    SimController* sim = SimCreate(scenario, log);
    SimInprocInstall(sim);
    VirtualClockReset();
    RecordingDisplayOptions options;
    options.echo = stdout;
    RecordingDisplayReset(options);
    for (const TimedRequest& request : requests) {
        if (request.given) {
            VirtualClockSchedule(request.atMs, request.request);
        }
    }

    RunProgram();

    if (RecordedMessages().front() == "message none") {
        std::printf("message none\n");
    }
    std::fflush(stdout);
    SimInprocInstall(nullptr);
    SimDestroy(sim);
    if (log != nullptr) {
        std::fclose(log);
    }
    return 0;
}
