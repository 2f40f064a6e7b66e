// The HID seam on Linux: hidraw nodes, their ioctls, and the report descriptor.

#include "platform/hid.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/linux/hid_descriptor.h"
#include "platform/linux/hidraw_names.h"
#include "platform/linux/report_descriptor.h"
#include "platform/transfer_diagnostic.h"

struct HidDevice {
    int fd;
};

namespace {

int OpenRetryingOnSignal(const char* path, int flags)
{
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int IoctlRetryingOnSignal(int fd, unsigned long request, void* argument)
{
    int result;
    do {
        result = ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

// Reads until the end of the file or until capacity bytes have come; the count read.
std::size_t ReadUpTo(int file, void* buffer, std::size_t capacity)
{
    std::size_t got = 0;
    while (got < capacity) {
        const ssize_t n = read(file, static_cast<char*>(buffer) + got, capacity - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// The whole descriptor from sysfs, for one the ioctl will not hand out (exactly
// HID_MAX_DESCRIPTOR_SIZE bytes: HIDIOCGRDESC takes at most one byte less).
bool ReadDescriptorFromSysfs(int fd, std::uint8_t* buffer, std::uint32_t size)
{
    struct stat node {};
    if (fstat(fd, &node) != 0 || !S_ISCHR(node.st_mode)) {
        return false;
    }
    char path[96];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/device/report_descriptor",
                  major(node.st_rdev), minor(node.st_rdev));
    const int file = OpenRetryingOnSignal(path, O_RDONLY);
    if (file < 0) {
        return false;
    }
    // One byte more than expected is asked for, so that a longer file is noticed.
    std::uint8_t extra = 0;
    const bool whole = ReadUpTo(file, buffer, size) == size && ReadUpTo(file, &extra, 1) == 0;
    close(file);
    return whole;
}

// The vendor and product that sysfs lists for a node, which anyone may read.
bool ReadIdsFromSysfs(const std::string& node, std::uint16_t* vendor, std::uint16_t* product)
{
    const std::string path = UeventPathOfNode(node);
    const int file = path.empty() ? -1 : OpenRetryingOnSignal(path.c_str(), O_RDONLY);
    if (file < 0) {
        return false;
    }
    char text[4096];
    const std::size_t got = ReadUpTo(file, text, sizeof text);
    close(file);
    return ParseUeventIds(std::string(text, got), vendor, product);
}

// One feature ioctl; a failure (an error or a short count) leaves one line on stderr.
bool FeatureIoctl(HidHandle device, bool set, std::uint8_t* buffer, std::uint32_t length)
{
    const unsigned long request = set ? HIDIOCSFEATURE(length) : HIDIOCGFEATURE(length);
    const std::uint8_t reportId = buffer[0];
    const int moved = IoctlRetryingOnSignal(device->fd, request, buffer);
    if (moved >= 0 && static_cast<std::uint32_t>(moved) == length) {
        return true;
    }
    FailedTransfer failure;
    failure.set = set;
    failure.reportId = reportId;
    failure.length = length;
    failure.passed = length;
    if (moved < 0) {
        failure.error = static_cast<unsigned long>(errno);
        failure.meaning = std::strerror(errno);
    } else {
        failure.transferred = moved;
    }
    std::fputs(DescribeFailedTransfer(failure).c_str(), stderr);
    return false;
}

}  // namespace

std::vector<std::string> HidListInterfaces()
{
    std::vector<std::string> names;
    DIR* dir = opendir("/sys/class/hidraw");
    if (dir == nullptr) {
        return {};
    }
    while (const dirent* entry = readdir(dir)) {
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return HidrawPathsInOrder(names);
}

HidHandle HidOpen(const std::string& path)
{
    // Feature ioctls need only read permission, which the uaccess rule may be all that grants.
    int fd = OpenRetryingOnSignal(path.c_str(), O_RDWR);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) {
        fd = OpenRetryingOnSignal(path.c_str(), O_RDONLY);
    }
    if (fd < 0) {
        return nullptr;
    }
    HidDevice* device = new (std::nothrow) HidDevice{fd};
    if (device == nullptr) {
        close(fd);
    }
    return device;
}

bool HidExplainRefusedOpen(const std::string& path, std::uint16_t* vendor, std::uint16_t* product,
                           std::string* explanation)
{
    if (vendor == nullptr || product == nullptr || explanation == nullptr ||
        !ReadIdsFromSysfs(path, vendor, product)) {
        return false;
    }
    // The read-only open is the last one HidOpen tries, so its refusal is the reason.
    const int fd = OpenRetryingOnSignal(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        close(fd);
        return false;
    }
    const int error = errno;
    std::string reason = std::strerror(error);
    if (!reason.empty()) {
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    }
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", *vendor, *product);
    *explanation = path + " (" + ids + "): " + reason + ".";
    if (error == EACCES || error == EPERM) {
        *explanation +=
            " Install the udev rule 70-qavel-touch.rules (or the qavel-calib package), then plug "
            "the controller in again.";
    } else {
        *explanation += " Plug the controller in again.";
    }
    return true;
}

bool HidGetIds(HidHandle device, std::uint16_t* vendor, std::uint16_t* product)
{
    if (!HidIsOpen(device) || vendor == nullptr || product == nullptr) {
        return false;
    }
    hidraw_devinfo info{};
    if (IoctlRetryingOnSignal(device->fd, HIDIOCGRAWINFO, &info) < 0) {
        return false;
    }
    // The kernel declares both as signed 16-bit fields.
    *vendor = static_cast<std::uint16_t>(info.vendor);
    *product = static_cast<std::uint16_t>(info.product);
    return true;
}

bool HidDeclaresFeatureValues(HidHandle device)
{
    if (!HidIsOpen(device)) {
        return false;
    }
    int size = 0;
    if (IoctlRetryingOnSignal(device->fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0) {
        return false;
    }
    if (size > HID_MAX_DESCRIPTOR_SIZE) {
        return false;
    }
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<std::uint32_t>(size);
    if (descriptor.size == HID_MAX_DESCRIPTOR_SIZE) {
        if (!ReadDescriptorFromSysfs(device->fd, descriptor.value, descriptor.size)) {
            return false;
        }
    } else if (IoctlRetryingOnSignal(device->fd, HIDIOCGRDESC, &descriptor) < 0) {
        return false;
    }
    return CountFeatureValueCaps(descriptor.value, descriptor.size) > 0;
}

bool HidSetFeature(HidHandle device, const std::uint8_t* buffer, std::uint32_t length)
{
    if (!HidIsOpen(device) || buffer == nullptr || length == 0) {
        return false;
    }
    // The ioctl takes a non-const pointer but only reads from it.
    return FeatureIoctl(device, true, const_cast<std::uint8_t*>(buffer), length);
}

bool HidGetFeature(HidHandle device, std::uint8_t* buffer, std::uint32_t length)
{
    if (!HidIsOpen(device) || buffer == nullptr || length == 0) {
        return false;
    }
    return FeatureIoctl(device, false, buffer, length);
}

void HidClose(HidHandle device)
{
    if (!HidIsOpen(device)) {
        return;
    }
    close(device->fd);
    delete device;
}

int HidrawDescriptor(HidHandle device)
{
    return HidIsOpen(device) ? device->fd : -1;
}
