// The Linux program's entry.

#include "app/session_driver.h"
#include "platform/linux/outside_end.h"
#include "platform/linux/startup.h"

int main(int argc, char** argv)
{
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
