// Times one run of the program from events, not by looking now and then: it starts the program
// itself (time zero), learns of the first transfer when the simulator appends it to the transcript
// (inotify), and of each change on the X screen when the server reports it (DAMAGE on the root
// window, which covers the program's windows and a nested compositor's alike). After each change
// it reads the pixels that tell the first target and the outcome box apart. Later transfers are
// placed by the transcript's own millisecond stamps, counted from the first: a watcher woken by
// every line would take the processor from the very thread it times.
//
// usage: frame-clock TRANSCRIPT X Y [--idle-cpu SECONDS] -- [-u NAME | NAME=VALUE]... COMMAND...
//   The words before COMMAND change its environment as env(1) would, without env's own start
//   being timed as the program's.
//   X Y: a pixel inside the first target's green disc. The box is seen when its face colour
//   shows: 2 pixels into a window that carries _QAVEL_MESSAGE_TEXT, or else 2 pixels into the
//   screen (a kiosk shows the box full screen).
//   --idle-cpu S: once the target is up, the program's CPU time over S seconds of waiting; the
//   box is then not waited for.
// Prints one line of name=value figures (milliseconds) and ends the program (SIGTERM). Exit 0
// when everything asked for was seen within 120 s, 1 otherwise, 2 on bad usage.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "x_read.h"

namespace {

constexpr std::uint32_t kGreen = 0x00FF00;
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kFace = 0xF0F0F0;
constexpr int kLimitMs = 120000;

double NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Where the box's face shows: inside an X window that describes a message, else the screen's
// corner.
void BoxProbePoint(Display* display, Atom messageText, int* x, int* y)
{
    *x = 2;
    *y = 2;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
        return;
    }
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[i], &attributes) != 0 &&
            attributes.map_state == IsViewable && HasProperty(display, children[i], messageText)) {
            *x = attributes.x + 2;
            *y = attributes.y + 2;
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
}

long CpuTicks(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return -1;
    }
    char buffer[1024] = {};
    const std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    buffer[length] = '\0';
    const char* fields = std::strrchr(buffer, ')');
    long utime = 0;
    long stime = 0;
    // Fields 14 and 15, counted from the state (field 3) after the name.
    if (fields == nullptr ||
        std::sscanf(fields + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime,
                    &stime) != 2) {
        return -1;
    }
    return utime + stime;
}

struct Transcript {
    int fd = -1;
    std::string partial;       // a line not yet ended
    std::vector<long> stamps;  // each whole line's own stamp (ms since the simulator began)
    double firstMs = -1;       // when the first line was seen, from time zero
};

void ReadNewLines(Transcript* t, double atMs)
{
    char buffer[4096];
    ssize_t n;
    while ((n = read(t->fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                t->partial += buffer[i];
                continue;
            }
            t->stamps.push_back(std::atol(t->partial.c_str()));
            t->partial.clear();
            if (t->firstMs < 0) {
                t->firstMs = atMs;
            }
        }
    }
}

// When line `index` was written, from time zero: the first as seen, the rest by their stamps
// (whole milliseconds, so within 1 ms).
double LineMs(const Transcript& t, std::size_t index)
{
    return t.firstMs + static_cast<double>(t.stamps[index] - t.stamps.front());
}

void EndProgram(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// A window may go between listing it and asking about it.
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    int separator = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            separator = i;
            break;
        }
    }
    int idleSeconds = 0;
    if (separator == 6 && std::strcmp(argv[4], "--idle-cpu") == 0) {
        idleSeconds = std::atoi(argv[5]);
    } else if (separator != 4) {
        std::fprintf(stderr,
                     "usage: frame-clock TRANSCRIPT X Y [--idle-cpu SECONDS] -- "
                     "[-u NAME | NAME=VALUE]... COMMAND...\n");
        return 2;
    }
    if (separator + 1 >= argc) {
        return 2;
    }
    const int targetX = std::atoi(argv[2]);
    const int targetY = std::atoi(argv[3]);

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "frame-clock: no X display\n");
        return 1;
    }
    XSetErrorHandler(IgnoreXError);
    int damageEvent = 0;
    int damageError = 0;
    if (!XDamageQueryExtension(display, &damageEvent, &damageError)) {
        std::fprintf(stderr, "frame-clock: the X server has no DAMAGE extension\n");
        return 1;
    }
    const Atom messageText = XInternAtom(display, "_QAVEL_MESSAGE_TEXT", False);
    const Damage damage = XDamageCreate(display, DefaultRootWindow(display), XDamageReportNonEmpty);
    XSync(display, False);

    Transcript transcript;
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    transcript.fd = open(argv[1], O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const int watched = watch < 0 ? -1 : inotify_add_watch(watch, argv[1], IN_MODIFY);
    bool transcriptUnwatched = false;
    if (watch < 0 || transcript.fd < 0 || watched < 0) {
        std::fprintf(stderr, "frame-clock: cannot watch %s\n", argv[1]);
        return 1;
    }
    ReadNewLines(&transcript, 0);
    transcript.stamps.clear();
    transcript.firstMs = -1;

    // A compositor repaints on its own clock, so the last run's target can still be on screen
    // just after that run ended: it must not be taken for this run's.
    std::uint32_t shown = 0;
    int waitedMs = 0;
    while (waitedMs < 2000 && RootPixelRgb(display, targetX, targetY, &shown) && shown == kGreen) {
        usleep(10000);
        waitedMs += 10;
    }
    XDamageSubtract(display, damage, None, None);
    XSync(display, True);

    const double zero = NowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        close(ConnectionNumber(display));
        char** command = argv + separator + 1;
        for (; *command != nullptr; ++command) {
            if (std::strcmp(*command, "-u") == 0 && command[1] != nullptr) {
                unsetenv(*++command);
            } else if (std::strchr(*command, '=') != nullptr) {
                putenv(*command);
            } else {
                break;
            }
        }
        if (*command != nullptr) {
            execvp(command[0], command);
        }
        _exit(127);
    }
    if (pid < 0) {
        return 1;
    }

    double windowMs = -1;
    double targetMs = -1;
    double boxMs = -1;
    std::size_t transfersBeforeBox = 0;
    double lastBeforeBoxMs = -1;
    bool exited = false;
    while (NowMs() - zero < kLimitMs) {
        if (transcript.firstMs >= 0 && !transcriptUnwatched) {
            inotify_rm_watch(watch, watched);
            transcriptUnwatched = true;
        }
        pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {watch, POLLIN, 0}};
        if (XPending(display) == 0 && poll(fds, 2, 200) < 0 && errno != EINTR) {
            break;
        }
        const double at = NowMs() - zero;
        if (fds[1].revents != 0) {
            char events[4096];
            while (read(watch, events, sizeof events) > 0) {
            }
            ReadNewLines(&transcript, at);
        }
        bool changed = false;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            changed = changed || event.type == damageEvent + XDamageNotify;
        }
        if (changed) {
            XDamageSubtract(display, damage, None, None);
            // Lines appended before this change came before it, though inotify may tell later.
            ReadNewLines(&transcript, at);
            std::uint32_t rgb = 0;
            if (targetMs < 0 && RootPixelRgb(display, targetX, targetY, &rgb)) {
                if (windowMs < 0 && rgb == kWhite) {
                    windowMs = at;
                }
                if (rgb == kGreen) {
                    targetMs = at;
                    if (windowMs < 0) {
                        windowMs = at;
                    }
                }
            }
            if (targetMs >= 0 && boxMs < 0 && idleSeconds == 0) {
                int x = 0;
                int y = 0;
                BoxProbePoint(display, messageText, &x, &y);
                if (RootPixelRgb(display, x, y, &rgb) && rgb == kFace) {
                    boxMs = at;
                    transfersBeforeBox = transcript.stamps.size();
                    lastBeforeBoxMs =
                        transfersBeforeBox > 0 ? LineMs(transcript, transfersBeforeBox - 1) : -1;
                }
            }
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            exited = true;
            break;
        }
        if (targetMs >= 0 && (boxMs >= 0 || idleSeconds > 0)) {
            break;
        }
    }

    long idleCpuMs = -1;
    if (!exited && targetMs >= 0 && idleSeconds > 0) {
        const long before = CpuTicks(pid);
        sleep(static_cast<unsigned>(idleSeconds));
        const long after = CpuTicks(pid);
        if (before >= 0 && after >= 0) {
            idleCpuMs = (after - before) * 1000 / sysconf(_SC_CLK_TCK);
        }
    }
    if (!exited) {
        EndProgram(pid);
    }
    const double firstTransferMs = transcript.firstMs;
    std::printf("start_to_first_transfer=%.1f window=%.1f target=%.1f", firstTransferMs, windowMs,
                targetMs);
    if (idleSeconds > 0) {
        std::printf(" idle_cpu=%ld idle_s=%d\n", idleCpuMs, idleSeconds);
        return targetMs >= 0 && idleCpuMs >= 0 ? 0 : 1;
    }
    std::printf(" last_transfer=%.1f box=%.1f transfers=%zu\n", lastBeforeBoxMs, boxMs,
                transfersBeforeBox);
    return targetMs >= 0 && boxMs >= 0 && transfersBeforeBox > 0 ? 0 : 1;
}
