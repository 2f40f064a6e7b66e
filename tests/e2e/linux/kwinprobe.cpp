// What the end-to-end tests need of a headless KWin (kwin_wayland --virtual) that no Debian tool
// gives: a screenshot through its org.kde.KWin.ScreenShot2 D-Bus API (KWin started with
// KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1), and keys, clicks and touches through the
// org_kde_kwin_fake_input protocol (KWIN_WAYLAND_NO_PERMISSION_CHECKS=1).
//
//   kwinprobe shot FILE [native]   the whole workspace as a PNG, in logical pixels, or in the
//                                  output's own pixels with "native"; D-Bus from
//                                  DBUS_SESSION_BUS_ADDRESS
//   kwinprobe input                one fake-input device for as long as it runs (from
//                                  WAYLAND_DISPLAY): reads commands from standard input, one a
//                                  line, and answers each with "ok" or "error WHY" once KWin has
//                                  handled it:
//                                    key NAME...   press and release each key (X keysym names:
//                                                  Escape Return KP_Enter space a)
//                                    click X Y     the first button, at X,Y (logical pixels)
//                                    touch X Y     a touch of 100 ms at X,Y (logical pixels)
// The device stays while the probe runs, so that the seat has its keyboard, pointer and touch
// before any event comes (KWin announces a capability once a device has it).
// Exit status: 0 done, 1 failed (said on standard error), 2 usage.

#include <cairo.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <linux/input-event-codes.h>
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake-input-client-protocol.h"

namespace {

// --- Screenshot -----------------------------------------------------------------------------

std::uint32_t number_of(GVariant* results, const char* key) {
    std::uint32_t value = 0;
    g_variant_lookup(results, key, "u", &value);
    return value;
}

int shot(const std::string& file, bool native) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::cerr << "kwinprobe: no session bus: " << error->message << "\n";
        return 1;
    }
    int ends[2];
    if (pipe(ends) != 0) {
        std::perror("kwinprobe: pipe");
        return 1;
    }
    // KWin writes the image after its reply, from a thread of its own; read it meanwhile, so
    // that a full pipe can stop neither side.
    std::vector<unsigned char> data;
    std::thread reader([&data, fd = ends[0]] {
        unsigned char buffer[65536];
        for (;;) {
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) break;
            data.insert(data.end(), buffer, buffer + got);
        }
        close(fd);
    });
    GUnixFDList* fds = g_unix_fd_list_new_from_array(&ends[1], 1);  // takes the write end
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(native));
    g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(false));
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
        "CaptureWorkspace", g_variant_new("(a{sv}h)", &options, 0), G_VARIANT_TYPE("(a{sv})"),
        G_DBUS_CALL_FLAGS_NONE, 30000, fds, nullptr, nullptr, &error);
    g_object_unref(fds);  // closes our copy of the write end: KWin's is the last
    reader.join();
    if (!reply) {
        std::cerr << "kwinprobe: CaptureWorkspace failed: " << error->message << "\n";
        return 1;
    }
    GVariant* results = g_variant_get_child_value(reply, 0);
    std::uint32_t width = number_of(results, "width"), height = number_of(results, "height");
    std::uint32_t stride = number_of(results, "stride"), format = number_of(results, "format");
    const char* type = nullptr;
    g_variant_lookup(results, "type", "&s", &type);
    // QImage's 32-bit formats (4 RGB32, 5 ARGB32, 6 ARGB32 premultiplied) are cairo's as bytes.
    if (!type || std::strcmp(type, "raw") != 0 || format < 4 || format > 6 || width == 0 ||
        stride < width * 4 || data.size() < std::size_t{stride} * height) {
        std::cerr << "kwinprobe: unexpected screenshot: type " << (type ? type : "none") << ", format "
                  << format << ", " << width << "x" << height << ", stride " << stride << ", "
                  << data.size() << " bytes\n";
        return 1;
    }
    // Opaque, whatever the format: a screenshot of the screen has nothing behind it.
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) data[std::size_t{y} * stride + x * 4 + 3] = 0xff;
    cairo_surface_t* image = cairo_image_surface_create_for_data(
        data.data(), CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height),
        static_cast<int>(stride));
    cairo_status_t status = cairo_surface_write_to_png(image, file.c_str());
    cairo_surface_destroy(image);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::cerr << "kwinprobe: cannot write " << file << ": " << cairo_status_to_string(status) << "\n";
        return 1;
    }
    return 0;
}

// --- Fake input -----------------------------------------------------------------------------

org_kde_kwin_fake_input* fake = nullptr;
std::uint32_t fake_version = 0;

void on_global(void*, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t version) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && !fake) {
        fake_version = version < 4 ? version : 4;
        fake = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, fake_version));
    }
}

void on_global_remove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registry_listener = {on_global, on_global_remove};

const std::map<std::string, std::uint32_t> keys = {
    {"Escape", KEY_ESC}, {"Return", KEY_ENTER}, {"KP_Enter", KEY_KPENTER}, {"space", KEY_SPACE},
    {"a", KEY_A},        {"Tab", KEY_TAB},      {"BackSpace", KEY_BACKSPACE}};

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Carries out one command; empty when done, else why not.
std::string command(wl_display* display, const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "key") {
        if (fake_version < 4) return "KWin's fake input has no keyboard (version < 4)";
        std::vector<std::uint32_t> codes;
        for (std::string name; words >> name;) {
            auto key = keys.find(name);
            if (key == keys.end()) return "no key " + name;
            codes.push_back(key->second);
        }
        for (std::uint32_t code : codes) {
            org_kde_kwin_fake_input_keyboard_key(fake, code, WL_KEYBOARD_KEY_STATE_PRESSED);
            wl_display_roundtrip(display);
            pause_ms(30);
            org_kde_kwin_fake_input_keyboard_key(fake, code, WL_KEYBOARD_KEY_STATE_RELEASED);
            wl_display_roundtrip(display);
            pause_ms(30);
        }
        return {};
    }
    double x = 0, y = 0;
    if (!(words >> x >> y)) return "usage: " + verb + " X Y";
    if (verb == "click") {
        if (fake_version < 3) return "KWin's fake input has no absolute pointer (version < 3)";
        org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_double(x),
                                                        wl_fixed_from_double(y));
        wl_display_roundtrip(display);
        pause_ms(50);
        org_kde_kwin_fake_input_button(fake, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
        wl_display_roundtrip(display);
        pause_ms(50);
        org_kde_kwin_fake_input_button(fake, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
        wl_display_roundtrip(display);
        return {};
    }
    if (verb == "touch") {
        if (fake_version < 2) return "KWin's fake input has no touch (version < 2)";
        org_kde_kwin_fake_input_touch_down(fake, 0, wl_fixed_from_double(x), wl_fixed_from_double(y));
        org_kde_kwin_fake_input_touch_frame(fake);
        wl_display_roundtrip(display);
        pause_ms(100);
        org_kde_kwin_fake_input_touch_up(fake, 0);
        org_kde_kwin_fake_input_touch_frame(fake);
        wl_display_roundtrip(display);
        return {};
    }
    return "unknown command " + verb;
}

int input() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::cerr << "kwinprobe: cannot connect to the Wayland display\n";
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, nullptr);
    wl_display_roundtrip(display);
    if (!fake) {
        std::cerr << "kwinprobe: the compositor offers no org_kde_kwin_fake_input "
                     "(KWin without KWIN_WAYLAND_NO_PERMISSION_CHECKS=1?)\n";
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fake, "qavel-e2e", "end-to-end tests");
    if (wl_display_roundtrip(display) < 0) {
        std::cerr << "kwinprobe: the compositor refused fake input\n";
        return 1;
    }
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        if (line.empty()) continue;
        std::string why = command(display, line);
        if (wl_display_get_error(display) != 0) why = "the Wayland connection failed";
        std::cout << (why.empty() ? "ok" : "error " + why) << std::endl;
        if (wl_display_get_error(display) != 0) return 1;
    }
    wl_display_disconnect(display);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "shot" && (argc == 3 || (argc == 4 && std::strcmp(argv[3], "native") == 0)))
        return shot(argv[2], argc == 4);
    if (verb == "input" && argc == 2) return input();
    std::cerr << "usage: kwinprobe shot FILE [native] | kwinprobe input\n";
    return 2;
}
