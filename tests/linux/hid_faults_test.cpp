// Faults of the hidraw layer's system calls that the preload library never gives: this binary's
// own open and ioctl are found first, fail where a case asks, and pass every other call on to the
// library. Only with the preload library: the kernel tier's static binaries have no next open to
// pass on to.

#include "platform/hid.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

struct Faults {
    int writeOpenErrno = 0;       // opening a node for writing fails with it
    int openErrno = 0;            // opening a node in any mode fails with it
    int sysfsErrno = 0;           // opening a descriptor's sysfs file fails with it
    bool noMemory = false;        // the nothrow operator new fails
    int interruptions = 0;        // ioctls still to fail with EINTR
    unsigned long failAfter = 0;  // answered by the library, then failed (ENODEV)
    // Replaces the device's own, in the ioctls and in sysfs, as the kernel hands it out.
    const std::vector<std::uint8_t>* descriptor = nullptr;
    int ioctls = 0;
    int ioctlLimit = 0;  // when set, every ioctl beyond it fails: an endless retry cannot hang
};
Faults faults;

}  // namespace

extern "C" int open(const char* path, int flags, ...)
{
    using OpenFunction = int (*)(const char*, int, ...);
    static const auto next = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"));
    va_list arguments;
    va_start(arguments, flags);
    const bool hasMode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    const mode_t mode = hasMode ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    if (faults.writeOpenErrno != 0 && std::strncmp(path, "/dev/hidraw", 11) == 0 &&
        (flags & O_ACCMODE) != O_RDONLY) {
        errno = faults.writeOpenErrno;
        return -1;
    }
    if (faults.openErrno != 0 && std::strncmp(path, "/dev/hidraw", 11) == 0) {
        errno = faults.openErrno;
        return -1;
    }
    if (faults.sysfsErrno != 0 && std::strncmp(path, "/sys/dev/char/", 14) == 0) {
        errno = faults.sysfsErrno;
        return -1;
    }
    const std::vector<std::uint8_t>* d = faults.descriptor;
    if (d != nullptr && std::strncmp(path, "/sys/dev/char/", 14) == 0 &&
        std::strstr(path, "/device/report_descriptor") != nullptr) {
        const int fd = memfd_create("report_descriptor", MFD_CLOEXEC);
        if (fd >= 0 && (write(fd, d->data(), d->size()) != static_cast<ssize_t>(d->size()) ||
                        lseek(fd, 0, SEEK_SET) != 0)) {
            close(fd);
            return -1;
        }
        return fd;
    }
    return next(path, flags, mode);
}

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    using IoctlFunction = int (*)(int, unsigned long, ...);
    static const auto next = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (++faults.ioctls > faults.ioctlLimit && faults.ioctlLimit > 0) {
        errno = ENOTTY;
        return -1;
    }
    if (faults.interruptions > 0) {
        --faults.interruptions;
        errno = EINTR;
        return -1;
    }
    const std::vector<std::uint8_t>* d = faults.descriptor;
    if (d != nullptr && request == HIDIOCGRDESCSIZE) {
        *static_cast<int*>(argument) = static_cast<int>(d->size());
        return 0;
    }
    if (d != nullptr && request == HIDIOCGRDESC) {
        auto* read = static_cast<hidraw_report_descriptor*>(argument);
        if (read->size > HID_MAX_DESCRIPTOR_SIZE - 1) {
            errno = EINVAL;
            return -1;
        }
        std::memcpy(read->value, d->data(), std::min<std::size_t>(read->size, d->size()));
        return 0;
    }
    const int result = next(fd, request, argument);
    if (request == faults.failAfter) {
        errno = ENODEV;
        return -1;
    }
    return result;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (faults.noMemory) {
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

// The descriptor the next open is handed.
int LowestFreeDescriptor()
{
    const int fd = dup(2);
    close(fd);
    return fd;
}

// One 8-bit feature value in a vendor collection, grown with Usage Page () items to size bytes.
std::vector<std::uint8_t> OneValue(std::size_t size)
{
    const std::vector<std::uint8_t> value = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09,
                                             0x05, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02, 0xC0};
    std::vector<std::uint8_t> grown(value.begin(), value.begin() + 7);
    grown.insert(grown.end(), size - value.size(), 0x04);
    grown.insert(grown.end(), value.begin() + 7, value.end());
    return grown;
}

}  // namespace

class HidFaults : public ::testing::Test {
protected:
    void TearDown() override
    {
        faults = Faults{};
    }
};

TEST_F(HidFaults, ANodeThatRefusesWritingIsOpenedReadOnly)
{
    // Read permission is all the feature ioctls need.
    for (const int error : {EACCES, EPERM}) {
        faults.writeOpenErrno = error;
        HidHandle device = HidOpen("/dev/hidraw0");
        ASSERT_TRUE(HidIsOpen(device)) << std::strerror(error);
        std::uint8_t report[8] = {0x08};
        EXPECT_TRUE(HidGetFeature(device, report, sizeof report));
        HidClose(device);
    }
}

TEST_F(HidFaults, WhatTheDescriptorReadSaysDecidesQualifying)
{
    HidHandle device = HidOpen("/dev/hidraw0");  // 0596:0102, declares feature values
    ASSERT_TRUE(HidIsOpen(device));
    for (const unsigned long request : {HIDIOCGRDESCSIZE, HIDIOCGRDESC}) {
        faults.failAfter = request;
        EXPECT_FALSE(HidDeclaresFeatureValues(device)) << "a failed read, request " << request;
    }
    faults.failAfter = HIDIOCGRAWINFO;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    EXPECT_FALSE(HidGetIds(device, &vendor, &product)) << "a failed read of the identifiers";
    faults.failAfter = 0;
    // One 8-bit feature value in a vendor collection is enough.
    const std::vector<std::uint8_t> oneValue = OneValue(16);
    faults.descriptor = &oneValue;
    EXPECT_TRUE(HidDeclaresFeatureValues(device));

    // The same value grown to the kernel's largest descriptor (4096 bytes, which only sysfs hands
    // out whole), one byte short of it (the ioctl's largest), and one byte beyond it.
    for (const std::size_t size : {4095, 4096, 4097}) {
        const std::vector<std::uint8_t> grown = OneValue(size);
        faults.descriptor = &grown;
        EXPECT_EQ(size <= 4096, HidDeclaresFeatureValues(device)) << size << " bytes";
        faults.sysfsErrno = EACCES;
        EXPECT_EQ(size == 4095, HidDeclaresFeatureValues(device)) << size << " bytes, no sysfs";
        faults.sysfsErrno = 0;
    }
    HidClose(device);
}

TEST_F(HidFaults, ARefusedNodeIsExplainedByItsOwnError)
{
    const struct {
        int error;
        bool udevRule;
    } rows[] = {{EACCES, true}, {EPERM, true}, {ENXIO, false}};
    for (const auto& row : rows) {
        faults.openErrno = row.error;
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        std::string text;
        ASSERT_TRUE(HidExplainRefusedOpen("/dev/hidraw0", &vendor, &product, &text)) << row.error;
        EXPECT_EQ(row.udevRule, text.find(" Install the udev rule ") != std::string::npos) << text;
        EXPECT_EQ(!row.udevRule, text.ends_with(". Plug the controller in again.")) << text;
    }
}

TEST_F(HidFaults, EveryDescriptorIsReleasedAndDescriptorZeroIsOneToo)
{
    // Started with stdin closed, the program is handed descriptor 0 for a node or a file.
    const int savedStdin = dup(0);
    close(0);
    const std::vector<std::uint8_t> whole = OneValue(4096);  // read from sysfs
    faults.descriptor = &whole;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string text;
    HidHandle first = HidOpen("/dev/hidraw0");
    ASSERT_TRUE(HidIsOpen(first));
    EXPECT_NE(0, LowestFreeDescriptor());
    HidHandle second = HidOpen("/dev/hidraw0");
    ASSERT_TRUE(HidIsOpen(second));
    HidClose(first);
    EXPECT_EQ(0, LowestFreeDescriptor());
    EXPECT_TRUE(HidDeclaresFeatureValues(second));
    EXPECT_EQ(0, LowestFreeDescriptor()) << "the sysfs file";
    EXPECT_FALSE(HidExplainRefusedOpen("/dev/hidraw1", &vendor, &product, &text));
    EXPECT_EQ(0, LowestFreeDescriptor()) << "a node that opens after all";
    EXPECT_TRUE(HidExplainRefusedOpen("/dev/hidraw12", &vendor, &product, &text));
    EXPECT_EQ(0, LowestFreeDescriptor()) << "the uevent file";
    faults.noMemory = true;
    EXPECT_FALSE(HidIsOpen(HidOpen("/dev/hidraw1")));
    faults.noMemory = false;
    EXPECT_EQ(0, LowestFreeDescriptor()) << "a node without memory for its handle";
    HidClose(second);
    if (savedStdin >= 0) {
        dup2(savedStdin, 0);
        close(savedStdin);
    }
}

TEST_F(HidFaults, AnIoctlInterruptedOnceIsRetriedOnce)
{
    HidHandle device = HidOpen("/dev/hidraw0");
    ASSERT_TRUE(HidIsOpen(device));
    // Each call with its ioctls when none is interrupted; errno still reads EINTR after the retry.
    struct Row {
        const char* call;
        int ioctls;
        bool (*run)(HidHandle);
    };
    const Row rows[] = {
        {"ids", 1,
         [](HidHandle d) {
             std::uint16_t vendor = 0;
             std::uint16_t product = 0;
             return HidGetIds(d, &vendor, &product) && vendor == 0x0596 && product == 0x0102;
         }},
        {"descriptor", 2, [](HidHandle d) { return HidDeclaresFeatureValues(d); }},
        {"feature", 1,
         [](HidHandle d) {
             std::uint8_t report[8] = {0x08};
             return HidGetFeature(d, report, sizeof report);
         }},
    };
    for (const Row& row : rows) {
        faults = Faults{};
        faults.interruptions = 1;
        faults.ioctlLimit = 8;
        EXPECT_TRUE(row.run(device)) << row.call;
        EXPECT_EQ(row.ioctls + 1, faults.ioctls) << row.call;
    }
    HidClose(device);
}
