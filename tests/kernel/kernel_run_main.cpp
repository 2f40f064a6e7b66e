// The whole program flow with the real hidraw layer and the real clock, and a display that draws
// nothing but prints each visible event (the headless runner's). For a guest without X.

#include <time.h>

#include <cstdint>
#include <cstdio>

#include "app/session_driver.h"
#include "inproc/recording_display.h"
#include "inproc/virtual_clock.h"

namespace {

timespec startTime{};

}  // namespace

// The recording display stamps its events with this; here it reads the real clock.
std::uint64_t VirtualNowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec - startTime.tv_sec) * 1000 +
           static_cast<std::uint64_t>((now.tv_nsec - startTime.tv_nsec) / 1000000);
}

int main()
{
    clock_gettime(CLOCK_MONOTONIC, &startTime);
    RecordingDisplayOptions options;
    options.echo = stdout;
    RecordingDisplayReset(options);
    RunProgram();
    if (RecordedMessages().front() == "message none") {
        std::printf("message none\n");
    }
    std::fflush(stdout);
    return 0;
}
