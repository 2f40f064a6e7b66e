// The Linux program's entry.

#include <csignal>

#include "app/session_driver.h"
#include "platform/linux/outside_end.h"
#include "platform/linux/startup.h"

int main(int argc, char** argv)
{
    // Diagnostics go to standard error. A reader of it that has gone (a closed pipe, a logger
    // that ended) must not end the run with the controller in calibration: the line is dropped.
    std::signal(SIGPIPE, SIG_IGN);
    if (AnswerInformationRequest(argc, argv)) {
        return 0;
    }
    // Without a display nothing could be shown, not even the outcome.
    if (!OpenDisplayAtStart()) {
        return 1;
    }
    const int code = RunProgram();
    EndAsSignalled();
    return code;
}
