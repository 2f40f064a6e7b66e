// Presents the devices of a scenario (QAVEL_SIM) to a real kernel through /dev/uhid, with the
// report descriptors the preload library presents, and answers the kernel's feature-report
// requests from the simulated controller (transcript in QAVEL_SIM_LOG). A test tool.
//
// usage: qavel-uhid-bridge [--descriptor-size N] [--ready FILE]
//   --descriptor-size N  every device's descriptor grown to N bytes (at most 4096)
//   --ready FILE         once every device has its hidraw node, FILE lists the nodes, one line
//                        per device in scenario order
// Runs until SIGTERM or SIGINT; the devices go away with it.

#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge_descriptor.h"
#include "sim_controller.h"
#include "synthetic_descriptor.h"

namespace {

constexpr int kNodeWaitMs = 10000;  // a node that takes longer than this is not coming
constexpr std::uint16_t kBusUsb = 3;

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int)
{
    stopRequested = 1;
}

struct BridgeDevice {
    int fd = -1;
    std::string uniq;
    std::array<std::uint32_t, 256> featureLengths{};
    std::string node;
};

timespec startTime{};

std::uint64_t NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec - startTime.tv_sec) * 1000 +
           static_cast<std::uint64_t>((now.tv_nsec - startTime.tv_nsec) / 1000000);
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "qavel-uhid-bridge: %s\n", message.c_str());
    return 3;
}

bool WriteEvent(int fd, const uhid_event& event)
{
    ssize_t written;
    do {
        written = write(fd, &event, sizeof event);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(sizeof event);
}

// A device answers a get request with the report's whole length; the kernel cuts it to the
// caller's buffer.
void AnswerGetReport(SimController* sim, int index, const BridgeDevice& device,
                     const uhid_event& request)
{
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = request.u.get_report.id;
    reply.u.get_report_reply.err = EIO;
    const std::uint8_t id = request.u.get_report.rnum;
    const std::uint32_t length = device.featureLengths[id];
    if (request.u.get_report.rtype == UHID_FEATURE_REPORT && length != 0 &&
        length <= UHID_DATA_MAX) {
        std::uint8_t* data = reply.u.get_report_reply.data;
        data[0] = id;
        if (SimGetFeature(sim, index, data, length, NowMs())) {
            reply.u.get_report_reply.err = 0;
            reply.u.get_report_reply.size = static_cast<std::uint16_t>(length);
        }
    }
    WriteEvent(device.fd, reply);
}

void AnswerSetReport(SimController* sim, int index, const BridgeDevice& device,
                     const uhid_event& request)
{
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = request.u.set_report.id;
    reply.u.set_report_reply.err = EIO;
    const std::uint32_t size = request.u.set_report.size;
    if (request.u.set_report.rtype == UHID_FEATURE_REPORT && size > 0 && size <= UHID_DATA_MAX &&
        request.u.set_report.data[0] == request.u.set_report.rnum &&
        SimSetFeature(sim, index, request.u.set_report.data, size, NowMs())) {
        reply.u.set_report_reply.err = 0;
    }
    WriteEvent(device.fd, reply);
}

// Answers what the kernel has queued on one device; false when the device is gone.
bool ServeDevice(SimController* sim, int index, const BridgeDevice& device)
{
    for (;;) {
        uhid_event event{};
        const ssize_t got = read(device.fd, &event, sizeof event);
        if (got < 0) {
            return errno == EAGAIN || errno == EINTR;
        }
        if (got == 0) {
            return false;
        }
        if (event.type == UHID_GET_REPORT) {
            AnswerGetReport(sim, index, device, event);
        } else if (event.type == UHID_SET_REPORT) {
            AnswerSetReport(sim, index, device, event);
        }
        // Start, stop, open, close and output reports need no answer.
    }
}

// The hidraw node whose device carries `uniq`, or "" while there is none.
std::string FindNode(const std::string& uniq)
{
    for (int n = 0; n < 256; ++n) {
        const std::string name = "hidraw" + std::to_string(n);
        std::ifstream uevent("/sys/class/hidraw/" + name + "/device/uevent");
        if (!uevent) {
            continue;
        }
        std::string line;
        while (std::getline(uevent, line)) {
            if (line == "HID_UNIQ=" + uniq) {
                return "/dev/" + name;
            }
        }
    }
    return "";
}

bool ParseSize(const char* text, std::size_t* size)
{
    if (text == nullptr || *text < '0' || *text > '9') {
        return false;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value > 4096) {
        return false;
    }
    *size = value;
    return true;
}

bool WriteReadyFile(const std::string& path, const std::vector<BridgeDevice>& devices)
{
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    for (const BridgeDevice& device : devices) {
        std::fprintf(file, "%s\n", device.node.c_str());
    }
    const bool written = std::fclose(file) == 0;
    return written && std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t descriptorSize = 0;
    std::string readyPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--descriptor-size" && ParseSize(value, &descriptorSize)) {
            ++i;
        } else if (arg == "--ready" && value != nullptr) {
            readyPath = value;
            ++i;
        } else {
            std::fprintf(stderr, "usage: qavel-uhid-bridge [--descriptor-size N] [--ready FILE]\n");
            return 2;
        }
    }

    clock_gettime(CLOCK_MONOTONIC, &startTime);
    const SimScenario scenario = LoadScenarioFromEnvironmentOrExit();
    if (scenario.touchFromPointer) {
        std::fprintf(stderr, "qavel-uhid-bridge: touch-from pointer needs a display\n");
        return 2;
    }
    std::FILE* transcript = nullptr;
    if (const char* log = std::getenv("QAVEL_SIM_LOG"); log != nullptr && log[0] != '\0') {
        transcript = std::fopen(log, "a");
        if (transcript == nullptr) {
            std::fprintf(stderr, "qavel-uhid-bridge: %s: cannot open the transcript: %s\n", log,
                         std::strerror(errno));
            return 2;
        }
    }

    // Blocked except inside ppoll, so that a stop request cannot slip in between check and wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    SimController* sim = SimCreate(scenario, transcript);
    std::vector<BridgeDevice> devices(scenario.devices.size());
    int status = 0;

    // One device at a time, each waited for, so that the nodes are numbered in scenario order.
    for (std::size_t i = 0; i < devices.size() && status == 0; ++i) {
        const SimDeviceSpec spec = scenario.devices[i];
        std::vector<std::uint8_t> descriptor = SyntheticReportDescriptor(spec);
        if (descriptorSize != 0) {
            descriptor = PadReportDescriptor(descriptor, descriptorSize);
            if (descriptor.empty()) {
                status = Fail("a descriptor of " + std::to_string(descriptorSize) +
                              " bytes cannot hold the controller's reports");
                break;
            }
        }
        BridgeDevice& device = devices[i];
        if (!FeatureReportLengths(descriptor.data(), descriptor.size(), &device.featureLengths)) {
            status = Fail("the report descriptor does not parse");
            break;
        }
        device.fd = open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (device.fd < 0) {
            status = Fail(std::string("/dev/uhid: ") + std::strerror(errno));
            break;
        }
        device.uniq = "qavel-sim-" + std::to_string(getpid()) + "-" + std::to_string(i);
        uhid_event create{};
        create.type = UHID_CREATE2;
        std::snprintf(reinterpret_cast<char*>(create.u.create2.name), sizeof create.u.create2.name,
                      "qavel simulated %04x:%04x", spec.vendor, spec.product);
        std::snprintf(reinterpret_cast<char*>(create.u.create2.phys), sizeof create.u.create2.phys,
                      "qavel-sim");
        std::snprintf(reinterpret_cast<char*>(create.u.create2.uniq), sizeof create.u.create2.uniq,
                      "%s", device.uniq.c_str());
        create.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
        create.u.create2.bus = kBusUsb;
        create.u.create2.vendor = spec.vendor;
        create.u.create2.product = spec.product;
        std::memcpy(create.u.create2.rd_data, descriptor.data(), descriptor.size());
        if (!WriteEvent(device.fd, create)) {
            status = Fail("device " + std::to_string(i) +
                          ": UHID_CREATE2 refused: " + std::strerror(errno));
            break;
        }
        for (int waited = 0; device.node.empty(); waited += 10) {
            if (waited >= kNodeWaitMs) {
                status = Fail("device " + std::to_string(i) + ": no hidraw node appeared");
                break;
            }
            ServeDevice(sim, static_cast<int>(i), device);
            device.node = FindNode(device.uniq);
            if (device.node.empty()) {
                usleep(10000);
            }
        }
    }
    if (status == 0 && !readyPath.empty() && !WriteReadyFile(readyPath, devices)) {
        status = Fail(readyPath + ": cannot write the list of nodes");
    }

    std::vector<pollfd> polls;
    for (const BridgeDevice& device : devices) {
        polls.push_back({device.fd, POLLIN, 0});
    }
    while (status == 0 && !stopRequested) {
        const int ready = ppoll(polls.data(), polls.size(), nullptr, &waitMask);
        if (ready < 0 && errno != EINTR) {
            status = Fail(std::string("poll: ") + std::strerror(errno));
        }
        for (std::size_t i = 0; ready > 0 && i < polls.size(); ++i) {
            if (polls[i].revents != 0 && !ServeDevice(sim, static_cast<int>(i), devices[i])) {
                status = Fail("device " + std::to_string(i) + ": /dev/uhid closed");
            }
        }
    }

    for (const BridgeDevice& device : devices) {
        if (device.fd >= 0) {
            close(device.fd);  // destroys the device
        }
    }
    SimDestroy(sim);
    if (transcript != nullptr) {
        std::fclose(transcript);
    }
    return status;
}
