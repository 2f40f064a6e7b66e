#include "platform/linux/startup.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/linux/display_backend.h"
#include "qavel_version.h"

namespace {

constexpr const char* kUsage =
    "Usage: qavel-calib [--help | --version]\n"
    "\n"
    "Calibrates a USB HID touch-screen controller of vendor 0596 (products 0003, 0100,\n"
    "0102, 0300 and 0400): shows targets full screen, takes a touch on each and stores\n"
    "the calibration in the controller. Esc stops. A message box tells the outcome.\n"
    "It runs on Wayland where WAYLAND_DISPLAY names a compositor, else on X11 (DISPLAY).\n"
    "There are no other options and no configuration.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Failed transfers with the controller are reported on standard error.\n"
    "The manual page qavel-calib(1) tells what each message means and what to do.\n";

}  // namespace

bool AnswerInformationRequest(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("qavel-calib %s\nLicensed under the MIT licence.\n", QAVEL_VERSION);
            return true;
        }
    }
    return false;
}

bool OpenDisplayAtStart()
{
    std::string noWayland;
    std::string noX11;
    const DisplayBackend* display = ConnectWayland(&noWayland);
    if (display == nullptr) {
        display = ConnectX11(&noX11);
    }
    if (display == nullptr) {
        std::fprintf(stderr, "qavel-calib: cannot open display (%s; %s)\n", noWayland.c_str(),
                     noX11.c_str());
        return false;
    }
    ChooseDisplay(display);
    return true;
}
