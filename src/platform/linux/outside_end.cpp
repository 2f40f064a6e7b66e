#include "platform/linux/outside_end.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};

int wakePipe[2] = {-1, -1};
// Written by a handler on whichever thread takes the signal, read by the main thread.
std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "used inside a signal handler");
std::atomic<bool> displayLost{false};

// Async-signal-safe: a full pipe is awake already.
void Wake()
{
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        const ssize_t written = write(wakePipe[1], &byte, 1);
        static_cast<void>(written);
    }
}

void OnEndingSignal(int signal)
{
    const int savedErrno = errno;
    caughtSignal.store(signal);
    Wake();
    errno = savedErrno;
}

}  // namespace

void CatchOutsideEnds()
{
    if (wakePipe[0] >= 0) {
        return;
    }
    // Without the pipe nothing would see a caught signal: they keep ending the process at once.
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe[0] = wakePipe[1] = -1;
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kEndingSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
}

int OutsideEndFd()
{
    return wakePipe[0];
}

bool OutsideEndRequested()
{
    return caughtSignal.load() != 0 || displayLost.load();
}

void NoteDisplayLost()
{
    if (!displayLost.exchange(true)) {
        Wake();
    }
}

bool DisplayLost()
{
    return displayLost.load();
}

void EndAsSignalled()
{
    const int signal = caughtSignal.load();
    if (signal == 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}
