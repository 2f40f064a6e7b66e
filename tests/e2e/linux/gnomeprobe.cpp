// What the end-to-end tests need of a headless gnome-kiosk that no Debian tool gives: its
// windows as it has them, through its org.gnome.Shell.Introspect D-Bus API, on the session bus
// of DBUS_SESSION_BUS_ADDRESS. That API answers the desktop portal's backends only: the probe
// first takes the name of one, which the compositor learns of a moment later.
//
//   gnomeprobe windows   one line a window: "WIDTH HEIGHT TITLE" (its frame's size)
// Exit status: 0 done, 1 failed (said on standard error), 2 usage.

#include <gio/gio.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <thread>

namespace {

constexpr const char* kPortalName = "org.freedesktop.impl.portal.desktop.gtk";

int windows() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::cerr << "gnomeprobe: no session bus: " << error->message << "\n";
        return 1;
    }
    GVariant* owned = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", kPortalName, 4u /* DBUS_NAME_FLAG_DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!owned) {
        std::cerr << "gnomeprobe: could not take " << kPortalName << ": " << error->message << "\n";
        return 1;
    }
    std::uint32_t reply = 0;
    g_variant_get(owned, "(u)", &reply);
    g_variant_unref(owned);
    if (reply != 1 /* DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER */) {
        std::cerr << "gnomeprobe: " << kPortalName << " is taken (reply " << reply << ")\n";
        return 1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    GVariant* result = nullptr;
    for (;;) {
        result = g_dbus_connection_call_sync(bus, "org.gnome.Shell.Introspect", "/org/gnome/Shell/Introspect",
                                             "org.gnome.Shell.Introspect", "GetWindows", nullptr,
                                             G_VARIANT_TYPE("(a{ta{sv}})"), G_DBUS_CALL_FLAGS_NONE,
                                             5000, nullptr, &error);
        if (result || !g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED) ||
            std::chrono::steady_clock::now() > deadline) {
            break;
        }
        g_clear_error(&error);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!result) {
        std::cerr << "gnomeprobe: GetWindows: " << error->message << "\n";
        return 1;
    }
    GVariant* list = g_variant_get_child_value(result, 0);
    GVariantIter windows;
    g_variant_iter_init(&windows, list);
    guint64 id = 0;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&windows, "{t@a{sv}}", &id, &properties)) {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        const char* title = "";
        g_variant_lookup(properties, "width", "u", &width);
        g_variant_lookup(properties, "height", "u", &height);
        g_variant_lookup(properties, "title", "&s", &title);
        std::cout << width << " " << height << " " << title << "\n";
        g_variant_unref(properties);
    }
    g_variant_unref(list);
    g_variant_unref(result);
    g_object_unref(bus);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "windows") {
        return windows();
    }
    std::cerr << "usage: gnomeprobe windows\n";
    return 2;
}
