// The simulator behind the unmodified Linux program: answers its hidraw calls (the listing of
// /sys/class/hidraw and each node's uevent there, open and close of /dev/hidrawN, the hidraw
// ioctls) from the scenario in QAVEL_SIM and passes every other call through to the C library.

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <linux/hidraw.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "pointer_source.h"
#include "sim_controller.h"
#include "synthetic_descriptor.h"

namespace {

constexpr const char* kClassDirectory = "/sys/class/hidraw";
constexpr const char* kNodePrefix = "/dev/hidraw";

using OpenFunction = int (*)(const char*, int, ...);
using CloseFunction = int (*)(int);
using CloseRangeFunction = int (*)(unsigned, unsigned, int);
using IoctlFunction = int (*)(int, unsigned long, ...);
using OpendirFunction = DIR* (*)(const char*);
using ReaddirFunction = dirent* (*)(DIR*);
using Readdir64Function = dirent64* (*)(DIR*);
using ClosedirFunction = int (*)(DIR*);

template <typename Function>
Function Next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// A listing of the simulated class directory; handed out as an opaque DIR pointer.
struct FakeDirectory {
    std::vector<dirent> entries;
    std::size_t next = 0;
};

struct Preload {
    std::mutex lock;
    bool loaded = false;
    SimScenario scenario;
    SimController* sim = nullptr;
    std::FILE* transcript = nullptr;
    timespec start{};
    PointerSource* pointer = nullptr;
    bool pointerWarned = false;
    std::map<int, int> openDevices;  // descriptor -> device index
    std::set<FakeDirectory*> directories;
};

Preload& State()
{
    static Preload* state = new Preload;  // never destroyed: calls may come during exit
    return *state;
}

void UpdatePointerLocked(Preload& p);

// First use: the scenario is read when the program first asks for HID interfaces.
void LoadLocked(Preload& p)
{
    if (p.loaded) {
        return;
    }
    p.loaded = true;
    p.scenario = LoadScenarioFromEnvironmentOrExit();
    clock_gettime(CLOCK_MONOTONIC, &p.start);
    if (const char* log = std::getenv("QAVEL_SIM_LOG"); log != nullptr && log[0] != '\0') {
        p.transcript = std::fopen(log, "a");
        if (p.transcript == nullptr) {
            std::fprintf(stderr, "qavel simulator: %s: cannot open the transcript: %s\n", log,
                         std::strerror(errno));
            std::exit(2);
        }
    }
    p.sim = SimCreate(p.scenario, p.transcript);
    // Listening from the start, so that no click before the first poll is lost.
    UpdatePointerLocked(p);
}

std::uint64_t NowMs(const Preload& p)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec - p.start.tv_sec) * 1000 +
           static_cast<std::uint64_t>((now.tv_nsec - p.start.tv_nsec) / 1000000);
}

// "/dev/hidrawN" -> N, for N naming a simulated device; -1 otherwise.
int DeviceIndexForPath(const Preload& p, const char* path)
{
    const std::size_t prefixLength = std::strlen(kNodePrefix);
    if (path == nullptr || std::strncmp(path, kNodePrefix, prefixLength) != 0) {
        return -1;
    }
    const char* digits = path + prefixLength;
    if (*digits == '\0' || std::strlen(digits) > 6) {
        return -1;
    }
    int index = 0;
    for (const char* c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return -1;
        }
        index = index * 10 + (*c - '0');
    }
    return index < SimDeviceCount(p.sim) ? index : -1;
}

bool IsTranscript(const Preload& p, int fd)
{
    return p.transcript != nullptr && fd >= 0 && fileno(p.transcript) == fd;
}

bool IsNodePath(const char* path)
{
    return path != nullptr && std::strncmp(path, kNodePrefix, std::strlen(kNodePrefix)) == 0;
}

bool IsClassPath(const char* path)
{
    const std::size_t length = std::strlen(kClassDirectory);
    return path != nullptr && std::strncmp(path, kClassDirectory, length) == 0 &&
           path[length] == '/';
}

// /sys/class/hidraw/hidrawN/device/uevent of a simulated device, as the kernel words it; every
// other file below the class directory is absent.
int OpenClassFile(const char* path)
{
    Preload& p = State();
    std::lock_guard<std::mutex> guard(p.lock);
    LoadLocked(p);
    for (int index = 0; index < SimDeviceCount(p.sim); ++index) {
        if (std::string(path) !=
            std::string(kClassDirectory) + "/hidraw" + std::to_string(index) + "/device/uevent") {
            continue;
        }
        const SimDeviceSpec spec = SimDevice(p.sim, index);
        char text[256];
        const int length = std::snprintf(
            text, sizeof text,
            "DRIVER=hid-generic\nHID_ID=0003:%08X:%08X\nHID_NAME=qavel simulated %04x\n"
            "HID_PHYS=qavel-sim/input%d\nHID_UNIQ=\nMODALIAS=hid:b0003g0001v%08Xp%08X\n",
            spec.vendor, spec.product, spec.product, index, spec.vendor, spec.product);
        const int fd = memfd_create("uevent", MFD_CLOEXEC);
        if (fd >= 0 && (write(fd, text, static_cast<std::size_t>(length)) != length ||
                        lseek(fd, 0, SEEK_SET) != 0)) {
            static const CloseFunction realClose = Next<CloseFunction>("close");
            realClose(fd);
            return -1;
        }
        return fd;
    }
    errno = ENOENT;
    return -1;
}

int OpenNode(const char* path)
{
    Preload& p = State();
    std::lock_guard<std::mutex> guard(p.lock);
    LoadLocked(p);
    const int index = DeviceIndexForPath(p, path);
    if (index < 0) {
        // The machine's real nodes stay out of a simulated run.
        errno = ENOENT;
        return -1;
    }
    if (SimDevice(p.sim, index).denied) {
        // A node that is root's alone, for reading as for writing.
        errno = EACCES;
        return -1;
    }
    static const OpenFunction realOpen = Next<OpenFunction>("open");
    const int fd = realOpen("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        p.openDevices[fd] = index;
    }
    return fd;
}

void UpdatePointerLocked(Preload& p)
{
    if (!p.scenario.touchFromPointer) {
        return;
    }
    if (p.pointer == nullptr) {
        p.pointer = PointerSourceOpen();
        if (p.pointer == nullptr) {
            if (!p.pointerWarned) {
                std::fprintf(stderr, "qavel simulator: touch-from pointer: no X display\n");
                p.pointerWarned = true;
            }
            return;
        }
    }
    std::vector<PointerState> states;
    if (PointerSourceRead(p.pointer, &states)) {
        for (const PointerState& state : states) {
            SimPointer(p.sim, state.buttonDown, state.x, state.y);
        }
    }
}

// The hidraw ioctls on a simulated descriptor, as the kernel answers them.
int DeviceIoctl(Preload& p, int index, unsigned long request, void* argument)
{
    if (argument == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (request == HIDIOCGRAWINFO) {
        const SimDeviceSpec spec = SimDevice(p.sim, index);
        hidraw_devinfo info{};
        info.bustype = 3;  // BUS_USB
        info.vendor = static_cast<__s16>(spec.vendor);
        info.product = static_cast<__s16>(spec.product);
        std::memcpy(argument, &info, sizeof info);
        return 0;
    }
    if (request == HIDIOCGRDESCSIZE) {
        const int size =
            static_cast<int>(SyntheticReportDescriptor(SimDevice(p.sim, index)).size());
        std::memcpy(argument, &size, sizeof size);
        return 0;
    }
    if (request == HIDIOCGRDESC) {
        auto* descriptor = static_cast<hidraw_report_descriptor*>(argument);
        // The kernel takes at most HID_MAX_DESCRIPTOR_SIZE - 1 bytes here.
        if (descriptor->size > HID_MAX_DESCRIPTOR_SIZE - 1) {
            errno = EINVAL;
            return -1;
        }
        const std::vector<std::uint8_t> bytes = SyntheticReportDescriptor(SimDevice(p.sim, index));
        const std::size_t count = std::min<std::size_t>(descriptor->size, bytes.size());
        std::memcpy(descriptor->value, bytes.data(), count);
        return 0;
    }
    if (_IOC_TYPE(request) == 'H' && _IOC_DIR(request) == (_IOC_WRITE | _IOC_READ)) {
        const std::uint32_t length = _IOC_SIZE(request);
        auto* buffer = static_cast<std::uint8_t*>(argument);
        if (length == 0) {
            errno = EINVAL;
            return -1;
        }
        bool ok = false;
        if (_IOC_NR(request) == _IOC_NR(HIDIOCSFEATURE(0))) {
            ok = SimSetFeature(p.sim, index, buffer, length, NowMs(p));
        } else if (_IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0))) {
            UpdatePointerLocked(p);
            ok = SimGetFeature(p.sim, index, buffer, length, NowMs(p));
        } else {
            errno = EINVAL;
            return -1;
        }
        if (!ok) {
            errno = EPIPE;  // what a stalled USB control transfer gives
            return -1;
        }
        return static_cast<int>(length);
    }
    errno = EINVAL;
    return -1;
}

// Simulated nodes are answered here; every other path goes to libc with its mode, if any.
int OpenOrForward(OpenFunction real, const char* path, int flags, va_list* arguments)
{
    if (IsNodePath(path)) {
        return OpenNode(path);
    }
    if (IsClassPath(path)) {
        return OpenClassFile(path);
    }
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        mode = va_arg(*arguments, mode_t);
    }
    return real(path, flags, mode);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    static const OpenFunction real = Next<OpenFunction>("open");
    va_list arguments;
    va_start(arguments, flags);
    const int fd = OpenOrForward(real, path, flags, &arguments);
    va_end(arguments);
    return fd;
}

int open64(const char* path, int flags, ...)
{
    static const OpenFunction real = Next<OpenFunction>("open64");
    va_list arguments;
    va_start(arguments, flags);
    const int fd = OpenOrForward(real, path, flags, &arguments);
    va_end(arguments);
    return fd;
}

int close(int fd)
{
    Preload& p = State();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        // The transcript is the simulator's, not one of the program's descriptors.
        if (IsTranscript(p, fd)) {
            errno = EBADF;
            return -1;
        }
        p.openDevices.erase(fd);
    }
    static const CloseFunction real = Next<CloseFunction>("close");
    return real(fd);
}

// A process that closes all its descriptors (the guardian) keeps the simulator's transcript.
int close_range(unsigned first, unsigned last, int flags)
{
    static const CloseRangeFunction real = Next<CloseRangeFunction>("close_range");
    Preload& p = State();
    std::lock_guard<std::mutex> guard(p.lock);
    const int kept = p.transcript != nullptr ? fileno(p.transcript) : -1;
    int result = 0;
    if (kept >= 0 && first <= static_cast<unsigned>(kept) && static_cast<unsigned>(kept) <= last) {
        if (static_cast<unsigned>(kept) > first) {
            result = real(first, static_cast<unsigned>(kept) - 1, flags);
        }
        if (result == 0 && static_cast<unsigned>(kept) < last) {
            result = real(static_cast<unsigned>(kept) + 1, last, flags);
        }
    } else {
        result = real(first, last, flags);
    }
    if (result == 0 && (flags & CLOSE_RANGE_CLOEXEC) == 0) {
        for (auto it = p.openDevices.begin(); it != p.openDevices.end();) {
            const auto fd = static_cast<unsigned>(it->first);
            it = fd >= first && fd <= last ? p.openDevices.erase(it) : std::next(it);
        }
    }
    return result;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    Preload& p = State();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        const auto found = p.openDevices.find(fd);
        if (found != p.openDevices.end()) {
            return DeviceIoctl(p, found->second, request, argument);
        }
    }
    static const IoctlFunction real = Next<IoctlFunction>("ioctl");
    return real(fd, request, argument);
}

DIR* opendir(const char* name)
{
    if (std::strcmp(name, kClassDirectory) == 0) {
        Preload& p = State();
        std::lock_guard<std::mutex> guard(p.lock);
        LoadLocked(p);
        auto* directory = new FakeDirectory;
        const int count = SimDeviceCount(p.sim);
        std::vector<std::string> names = {".", ".."};
        // Not in numeric order, as the kernel's directory order is not either.
        for (int i = count - 1; i >= 0; --i) {
            names.push_back("hidraw" + std::to_string(i));
        }
        for (const std::string& entryName : names) {
            dirent entry{};
            entry.d_type = entryName[0] == '.' ? DT_DIR : DT_LNK;
            std::snprintf(entry.d_name, sizeof entry.d_name, "%s", entryName.c_str());
            directory->entries.push_back(entry);
        }
        p.directories.insert(directory);
        return reinterpret_cast<DIR*>(directory);
    }
    static const OpendirFunction real = Next<OpendirFunction>("opendir");
    return real(name);
}

dirent* readdir(DIR* dir)
{
    Preload& p = State();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        auto* directory = reinterpret_cast<FakeDirectory*>(dir);
        if (p.directories.count(directory) != 0) {
            if (directory->next >= directory->entries.size()) {
                return nullptr;
            }
            return &directory->entries[directory->next++];
        }
    }
    static const ReaddirFunction real = Next<ReaddirFunction>("readdir");
    return real(dir);
}

dirent64* readdir64(DIR* dir)
{
    static_assert(sizeof(dirent) == sizeof(dirent64), "one layout on this platform");
    Preload& p = State();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        if (p.directories.count(reinterpret_cast<FakeDirectory*>(dir)) != 0) {
            auto* directory = reinterpret_cast<FakeDirectory*>(dir);
            if (directory->next >= directory->entries.size()) {
                return nullptr;
            }
            return reinterpret_cast<dirent64*>(&directory->entries[directory->next++]);
        }
    }
    static const Readdir64Function real = Next<Readdir64Function>("readdir64");
    return real(dir);
}

int closedir(DIR* dir)
{
    Preload& p = State();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        auto* directory = reinterpret_cast<FakeDirectory*>(dir);
        if (p.directories.erase(directory) != 0) {
            delete directory;
            return 0;
        }
    }
    static const ClosedirFunction real = Next<ClosedirFunction>("closedir");
    return real(dir);
}

}  // extern "C"
