// The guardian on Linux: a forked child that inherits the hidraw descriptor and the read end of a
// pipe. The program writes each plan down the pipe; the child learns of the program's death from
// the pipe's end (the kernel closes the write end only once every thread of the program is gone,
// so nothing of the program can still be sending when the child starts to).

#include "platform/guardian.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "platform/guardian_message.h"
#include "platform/linux/hid_descriptor.h"

namespace {

using Message = GuardianMessage;
// Whole in one write: a pipe never splits a write of up to PIPE_BUF bytes.
static_assert(sizeof(Message) <= PIPE_BUF);

constexpr int kAttempts = 10;
constexpr std::uint32_t kPauseBeforeAttemptMs = 100;

std::atomic<int> planPipe{-1};
pid_t watcher = -1;

// --- the child: async-signal-safe calls only, as it is forked from a program with threads ---

std::uint64_t NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
           static_cast<std::uint64_t>(now.tv_nsec / 1000000);
}

void Pause(std::uint32_t ms)
{
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void PauseUntil(std::uint64_t atMs)
{
    const std::uint64_t now = NowMs();
    if (atMs > now) {
        Pause(static_cast<std::uint32_t>(atMs - now));
    }
}

// As the run's transport sends: each attempt after a pause, at most ten.
void Send(int device, const GuardianPlan& plan, std::uint64_t armedAtMs)
{
    std::uint64_t since = armedAtMs;
    for (std::uint32_t k = 0; k < plan.count; ++k) {
        GuardianStep step = plan.steps[k];
        PauseUntil(since + step.pauseMs);
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            Pause(kPauseBeforeAttemptMs);
            if (ioctl(device, HIDIOCSFEATURE(step.length), step.report) >= 0) {
                break;
            }
            if (errno == ENODEV) {
                return;  // unplugged: the controller starts afresh when it comes back
            }
        }
        since = NowMs();
    }
}

void CloseRange(unsigned first, unsigned last)
{
    if (first > last || close_range(first, last, 0) == 0) {
        return;
    }
    // A kernel before 5.9.
    rlimit limit{};
    const unsigned end = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                             ? static_cast<unsigned>(limit.rlim_cur)
                             : 65536;
    for (unsigned fd = first; fd <= last && fd < end; ++fd) {
        close(static_cast<int>(fd));
    }
}

// Everything but the two descriptors it needs goes: a display connection held here would keep
// the program's windows up, a terminal or log pipe would keep its reader waiting.
void CloseAllBut(int a, int b)
{
    const unsigned low = static_cast<unsigned>(a < b ? a : b);
    const unsigned high = static_cast<unsigned>(a < b ? b : a);
    if (low > 0) {
        CloseRange(0, low - 1);
    }
    CloseRange(low + 1, high - 1);
    CloseRange(high + 1, ~0U);
}

[[noreturn]] void Watch(int plans, int device)
{
    // Out of the program's session and process group, deaf to the signals that end a session
    // or a terminal's job: whatever ends the program, this outlives it to act.
    setsid();
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGPIPE}) {
        sigaction(signal, &ignore, nullptr);
    }
    CloseAllBut(plans, device);

    GuardianPlan plan{};
    std::uint64_t armedAtMs = 0;
    for (;;) {
        Message message{};
        std::size_t got = 0;
        while (got < sizeof message) {
            const ssize_t n =
                read(plans, reinterpret_cast<char*>(&message) + got, sizeof message - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n == 0) {
                // The program is gone without a release.
                Send(device, plan, armedAtMs);
                close(device);
                _exit(0);
            }
            if (n < 0) {
                _exit(1);  // cannot tell whether the program lives: sending could race it
            }
            got += static_cast<std::size_t>(n);
        }
        if (message.kind == kGuardianRelease) {
            close(device);
            _exit(0);
        }
        if (message.kind == kGuardianArm && GuardianPlanValid(message.plan)) {
            plan = message.plan;
            armedAtMs = NowMs();
        }
    }
}

// --- the program ---

void Post(const Message& message)
{
    const int fd = planPipe.load();
    if (fd < 0) {
        return;
    }
    ssize_t n;
    do {
        n = write(fd, &message, sizeof message);
    } while (n < 0 && errno == EINTR);
}

}  // namespace

bool GuardianStart(HidHandle device)
{
    const int deviceFd = HidrawDescriptor(device);
    if (deviceFd < 0 || planPipe.load() >= 0) {
        return false;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[1]);
        Watch(ends[0], deviceFd);
    }
    close(ends[0]);
    if (pid < 0) {
        close(ends[1]);
        return false;
    }
    watcher = pid;
    planPipe.store(ends[1]);
    return true;
}

void GuardianArm(const GuardianPlan& plan)
{
    Post(Message{kGuardianArm, plan});
}

void GuardianRelease()
{
    const int fd = planPipe.exchange(-1);
    if (fd < 0) {
        return;
    }
    Message release{};
    release.kind = kGuardianRelease;
    ssize_t n;
    do {
        n = write(fd, &release, sizeof release);
    } while (n < 0 && errno == EINTR);
    close(fd);
    // It ends at once on either the release or the pipe's end; reaped here, none is left behind.
    while (waitpid(watcher, nullptr, 0) < 0 && errno == EINTR) {
    }
    watcher = -1;
}
