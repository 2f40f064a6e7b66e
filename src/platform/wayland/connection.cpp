// The Wayland display chosen at start: the connection, the globals the program binds, the seats'
// keys, pointer and touch handed to the surface that takes input, the outputs' scales, and
// reading and dispatching the connection without ever spinning.

#include "platform/wayland/connection.h"

#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <libdecor.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-cursor.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/linux/display_backend.h"
#include "platform/linux/outside_end.h"
#include "platform/wayland/wayland_display.h"

namespace wayland {
namespace {

const DisplayBackend kWaylandDisplay = {
    OpenWindow, CloseWindow,    TakeEvents,        PaintWindow, Beep,
    Sleep,      ShowMessageBox, PrepareMessageBox, ShowNotice,  CloseNotice,
};

struct Output {
    wl_output* output;
    std::uint32_t name;
    int scale;
    int width;  // the current mode, in pixels
    int height;
    std::int32_t transform;
};

// An output's size as a window on it sees it, in surface units: turned a quarter for a portrait
// output.
void SizeOnOutput(const Output& output, int* width, int* height)
{
    const bool quarterTurned = (output.transform & 1) != 0;
    *width = (quarterTurned ? output.height : output.width) / output.scale;
    *height = (quarterTurned ? output.width : output.height) / output.scale;
}

struct Touch {
    std::int32_t id;
    wl_surface* surface;
    int x;
    int y;
};

struct Seat {
    wl_seat* seat = nullptr;
    std::uint32_t name = 0;
    wl_keyboard* keyboard = nullptr;
    wl_pointer* pointer = nullptr;
    wl_touch* touch = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* keys = nullptr;
    wl_surface* keyboardFocus = nullptr;
    wl_surface* pointerFocus = nullptr;
    int pointerX = 0;
    int pointerY = 0;
    std::vector<Touch> touches;
};

// Main thread only, but for the globals' proxies, which the worker wraps.
Globals globals;
wl_registry* registry = nullptr;
std::vector<std::unique_ptr<Output>> outputs;
std::vector<std::unique_ptr<Seat>> seats;
std::vector<ScaledSurface*> watchedSurfaces;
xkb_context* xkb = nullptr;
const SurfaceInput* routed = nullptr;
libdecor* decorations = nullptr;
std::string decorationsFolder;  // where libdecor finds its plugin
bool decorationsTried = false;
wl_cursor_theme* cursorTheme = nullptr;
wl_surface* arrow = nullptr;
int arrowHotX = 0;
int arrowHotY = 0;
bool arrowTried = false;

bool Routed(wl_surface* surface)
{
    return routed != nullptr && surface != nullptr && surface == routed->surface;
}

// The theme's arrow, for the message box; none where no cursor theme is installed. At scale 1:
// a theme's image need not divide by an output's scale, which a buffer at that scale must.
void ShowArrow(wl_pointer* pointer, std::uint32_t serial)
{
    if (!arrowTried) {
        arrowTried = true;
        const char* sizeText = std::getenv("XCURSOR_SIZE");
        const int size = sizeText != nullptr && std::atoi(sizeText) > 0 ? std::atoi(sizeText) : 24;
        cursorTheme = wl_cursor_theme_load(std::getenv("XCURSOR_THEME"), size, globals.shm);
        wl_cursor* cursor = nullptr;
        if (cursorTheme != nullptr) {
            cursor = wl_cursor_theme_get_cursor(cursorTheme, "left_ptr");
            if (cursor == nullptr) {
                cursor = wl_cursor_theme_get_cursor(cursorTheme, "default");
            }
        }
        wl_buffer* buffer = cursor != nullptr && cursor->image_count > 0
                                ? wl_cursor_image_get_buffer(cursor->images[0])
                                : nullptr;
        if (buffer != nullptr) {
            arrow = wl_compositor_create_surface(globals.compositor);
            wl_surface_attach(arrow, buffer, 0, 0);
            wl_surface_damage(arrow, 0, 0, INT32_MAX, INT32_MAX);
            wl_surface_commit(arrow);
            arrowHotX = static_cast<int>(cursor->images[0]->hotspot_x);
            arrowHotY = static_cast<int>(cursor->images[0]->hotspot_y);
        }
    }
    if (arrow != nullptr) {
        wl_pointer_set_cursor(pointer, serial, arrow, arrowHotX, arrowHotY);
    }
}

// --- keyboard ---

void KeyboardKeymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                    std::uint32_t size)
{
    Seat* seat = static_cast<Seat*>(data);
    void* map = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1
                    ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                    : MAP_FAILED;
    close(fd);
    if (map == MAP_FAILED) {
        return;
    }
    if (xkb == nullptr) {
        munmap(map, size);
        return;
    }
    const char* text = static_cast<const char*>(map);
    xkb_keymap* keymap = xkb_keymap_new_from_buffer(
        xkb, text, strnlen(text, size), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(map, size);
    if (keymap == nullptr) {
        return;
    }
    xkb_state_unref(seat->keys);
    xkb_keymap_unref(seat->keymap);
    seat->keymap = keymap;
    seat->keys = xkb_state_new(keymap);
}

void KeyboardEnter(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array*)
{
    static_cast<Seat*>(data)->keyboardFocus = surface;
}

void KeyboardLeave(void* data, wl_keyboard*, std::uint32_t, wl_surface*)
{
    static_cast<Seat*>(data)->keyboardFocus = nullptr;
}

void KeyboardKey(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
                 std::uint32_t state)
{
    Seat* seat = static_cast<Seat*>(data);
    if (state != WL_KEYBOARD_KEY_STATE_PRESSED || seat->keys == nullptr ||
        !Routed(seat->keyboardFocus) || routed->key == nullptr) {
        return;
    }
    // Wayland numbers keys as the kernel does; xkb's codes are 8 higher.
    routed->key(routed->data, xkb_state_key_get_one_sym(seat->keys, key + 8));
}

void KeyboardModifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                       std::uint32_t latched, std::uint32_t locked, std::uint32_t group)
{
    Seat* seat = static_cast<Seat*>(data);
    if (seat->keys != nullptr) {
        xkb_state_update_mask(seat->keys, depressed, latched, locked, 0, 0, group);
    }
}

void KeyboardRepeat(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

const wl_keyboard_listener kKeyboardListener = {.keymap = KeyboardKeymap,
                                                .enter = KeyboardEnter,
                                                .leave = KeyboardLeave,
                                                .key = KeyboardKey,
                                                .modifiers = KeyboardModifiers,
                                                .repeat_info = KeyboardRepeat};

// --- pointer ---

void PointerEnter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface,
                  wl_fixed_t x, wl_fixed_t y)
{
    Seat* seat = static_cast<Seat*>(data);
    seat->pointerFocus = surface;
    seat->pointerX = wl_fixed_to_int(x);
    seat->pointerY = wl_fixed_to_int(y);
    if (!Routed(surface)) {
        return;
    }
    if (routed->hidePointer) {
        wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
    } else {
        ShowArrow(pointer, serial);
    }
}

void PointerLeave(void* data, wl_pointer*, std::uint32_t, wl_surface*)
{
    static_cast<Seat*>(data)->pointerFocus = nullptr;
}

void PointerMotion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y)
{
    Seat* seat = static_cast<Seat*>(data);
    seat->pointerX = wl_fixed_to_int(x);
    seat->pointerY = wl_fixed_to_int(y);
}

void PointerButton(void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
                   std::uint32_t state)
{
    Seat* seat = static_cast<Seat*>(data);
    if (button != BTN_LEFT || !Routed(seat->pointerFocus)) {
        return;
    }
    const bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
    auto handler = pressed ? routed->press : routed->release;
    if (handler != nullptr) {
        handler(routed->data, seat->pointerX, seat->pointerY);
    }
}

void PointerAxis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
void PointerFrame(void*, wl_pointer*) {}
void PointerAxisSource(void*, wl_pointer*, std::uint32_t) {}
void PointerAxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
void PointerAxisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}

// The seat is bound at version 5: no later event comes.
const wl_pointer_listener kPointerListener = {.enter = PointerEnter,
                                              .leave = PointerLeave,
                                              .motion = PointerMotion,
                                              .button = PointerButton,
                                              .axis = PointerAxis,
                                              .frame = PointerFrame,
                                              .axis_source = PointerAxisSource,
                                              .axis_stop = PointerAxisStop,
                                              .axis_discrete = PointerAxisDiscrete};

// --- touch ---

void TouchDown(void* data, wl_touch*, std::uint32_t, std::uint32_t, wl_surface* surface,
               std::int32_t id, wl_fixed_t x, wl_fixed_t y)
{
    Seat* seat = static_cast<Seat*>(data);
    seat->touches.push_back(Touch{id, surface, wl_fixed_to_int(x), wl_fixed_to_int(y)});
    if (Routed(surface) && routed->press != nullptr) {
        routed->press(routed->data, wl_fixed_to_int(x), wl_fixed_to_int(y));
    }
}

void TouchUp(void* data, wl_touch*, std::uint32_t, std::uint32_t, std::int32_t id)
{
    Seat* seat = static_cast<Seat*>(data);
    for (auto it = seat->touches.begin(); it != seat->touches.end(); ++it) {
        if (it->id != id) {
            continue;
        }
        const Touch touch = *it;
        seat->touches.erase(it);
        if (Routed(touch.surface) && routed->release != nullptr) {
            routed->release(routed->data, touch.x, touch.y);
        }
        return;
    }
}

void TouchMotion(void* data, wl_touch*, std::uint32_t, std::int32_t id, wl_fixed_t x, wl_fixed_t y)
{
    for (Touch& touch : static_cast<Seat*>(data)->touches) {
        if (touch.id == id) {
            touch.x = wl_fixed_to_int(x);
            touch.y = wl_fixed_to_int(y);
        }
    }
}

void TouchFrame(void*, wl_touch*) {}

// The compositor took the touches for itself: none of them ends on a button.
void TouchCancel(void* data, wl_touch*)
{
    Seat* seat = static_cast<Seat*>(data);
    for (const Touch& touch : seat->touches) {
        if (Routed(touch.surface) && routed->release != nullptr) {
            routed->release(routed->data, -1, -1);
        }
    }
    seat->touches.clear();
}

void TouchShape(void*, wl_touch*, std::int32_t, wl_fixed_t, wl_fixed_t) {}
void TouchOrientation(void*, wl_touch*, std::int32_t, wl_fixed_t) {}

const wl_touch_listener kTouchListener = {.down = TouchDown,
                                          .up = TouchUp,
                                          .motion = TouchMotion,
                                          .frame = TouchFrame,
                                          .cancel = TouchCancel,
                                          .shape = TouchShape,
                                          .orientation = TouchOrientation};

// --- seats, outputs, the registry ---

// A device the seat no longer has is released, so that the compositor forgets it too, where the
// seat is new enough; before that, only the proxy can go.
void Release(wl_keyboard* keyboard)
{
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
        wl_keyboard_release(keyboard);
    } else {
        wl_keyboard_destroy(keyboard);
    }
}

void Release(wl_pointer* pointer)
{
    if (wl_pointer_get_version(pointer) >= WL_POINTER_RELEASE_SINCE_VERSION) {
        wl_pointer_release(pointer);
    } else {
        wl_pointer_destroy(pointer);
    }
}

void Release(wl_touch* touch)
{
    if (wl_touch_get_version(touch) >= WL_TOUCH_RELEASE_SINCE_VERSION) {
        wl_touch_release(touch);
    } else {
        wl_touch_destroy(touch);
    }
}

void SeatCapabilities(void* data, wl_seat* wlSeat, std::uint32_t capabilities)
{
    Seat* seat = static_cast<Seat*>(data);
    const bool keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    const bool pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    const bool touch = (capabilities & WL_SEAT_CAPABILITY_TOUCH) != 0;
    if (keyboard && seat->keyboard == nullptr) {
        seat->keyboard = wl_seat_get_keyboard(wlSeat);
        wl_keyboard_add_listener(seat->keyboard, &kKeyboardListener, seat);
    } else if (!keyboard && seat->keyboard != nullptr) {
        Release(seat->keyboard);
        seat->keyboard = nullptr;
        seat->keyboardFocus = nullptr;
    }
    if (pointer && seat->pointer == nullptr) {
        seat->pointer = wl_seat_get_pointer(wlSeat);
        wl_pointer_add_listener(seat->pointer, &kPointerListener, seat);
    } else if (!pointer && seat->pointer != nullptr) {
        Release(seat->pointer);
        seat->pointer = nullptr;
        seat->pointerFocus = nullptr;
    }
    if (touch && seat->touch == nullptr) {
        seat->touch = wl_seat_get_touch(wlSeat);
        wl_touch_add_listener(seat->touch, &kTouchListener, seat);
    } else if (!touch && seat->touch != nullptr) {
        Release(seat->touch);
        seat->touch = nullptr;
        seat->touches.clear();
    }
}

void SeatName(void*, wl_seat*, const char*) {}

const wl_seat_listener kSeatListener = {.capabilities = SeatCapabilities, .name = SeatName};

void OutputGeometry(void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    std::int32_t, const char*, const char*, std::int32_t transform)
{
    static_cast<Output*>(data)->transform = transform;
}

void OutputMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                std::int32_t height, std::int32_t)
{
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        Output* output = static_cast<Output*>(data);
        output->width = width;
        output->height = height;
    }
}

void OutputDone(void*, wl_output*) {}

void OutputScale(void* data, wl_output*, std::int32_t factor)
{
    static_cast<Output*>(data)->scale = std::max(1, factor);
}

// Bound at version 2: no name or description comes.
const wl_output_listener kOutputListener = {
    .geometry = OutputGeometry, .mode = OutputMode, .done = OutputDone, .scale = OutputScale};

void WmBasePing(void*, xdg_wm_base* wmBase, std::uint32_t serial)
{
    xdg_wm_base_pong(wmBase, serial);
}

const xdg_wm_base_listener kWmBaseListener = {.ping = WmBasePing};

template <typename T>
T* Bind(wl_registry* r, std::uint32_t name, const wl_interface* interface, std::uint32_t offered,
        std::uint32_t wanted)
{
    return static_cast<T*>(wl_registry_bind(r, name, interface, std::min(offered, wanted)));
}

void RegistryGlobal(void*, wl_registry* r, std::uint32_t name, const char* interface,
                    std::uint32_t version)
{
    const std::string kind = interface;
    if (kind == wl_compositor_interface.name && version >= 3) {
        globals.compositor = Bind<wl_compositor>(r, name, &wl_compositor_interface, version, 4);
    } else if (kind == wl_shm_interface.name) {
        globals.shm = Bind<wl_shm>(r, name, &wl_shm_interface, version, 1);
    } else if (kind == xdg_wm_base_interface.name) {
        globals.wmBase = Bind<xdg_wm_base>(r, name, &xdg_wm_base_interface, version, 2);
        xdg_wm_base_add_listener(globals.wmBase, &kWmBaseListener, nullptr);
    } else if (kind == wl_seat_interface.name) {
        auto seat = std::make_unique<Seat>();
        seat->name = name;
        seat->seat = Bind<wl_seat>(r, name, &wl_seat_interface, version, 5);
        wl_seat_add_listener(seat->seat, &kSeatListener, seat.get());
        seats.push_back(std::move(seat));
    } else if (kind == wl_output_interface.name && version >= 2) {
        auto output = std::make_unique<Output>(Output{nullptr, name, 1, 0, 0, 0});
        output->output = Bind<wl_output>(r, name, &wl_output_interface, version, 2);
        wl_output_add_listener(output->output, &kOutputListener, output.get());
        outputs.push_back(std::move(output));
    }
}

void RegistryGlobalRemove(void*, wl_registry*, std::uint32_t name)
{
    for (auto it = outputs.begin(); it != outputs.end(); ++it) {
        if ((*it)->name == name) {
            // A surface on it no longer is; a later output may reuse its proxy's address.
            for (ScaledSurface* watched : watchedSurfaces) {
                auto& on = watched->outputs;
                if (std::find(on.begin(), on.end(), (*it)->output) != on.end()) {
                    on.erase(std::remove(on.begin(), on.end(), (*it)->output), on.end());
                    watched->scaleChanged = true;
                }
            }
            wl_output_destroy((*it)->output);
            outputs.erase(it);
            return;
        }
    }
    for (auto it = seats.begin(); it != seats.end(); ++it) {
        if ((*it)->name == name) {
            Seat* seat = it->get();
            SeatCapabilities(seat, seat->seat, 0);
            xkb_state_unref(seat->keys);
            xkb_keymap_unref(seat->keymap);
            if (wl_seat_get_version(seat->seat) >= WL_SEAT_RELEASE_SINCE_VERSION) {
                wl_seat_release(seat->seat);
            } else {
                wl_seat_destroy(seat->seat);
            }
            seats.erase(it);
            return;
        }
    }
}

const wl_registry_listener kRegistryListener = {.global = RegistryGlobal,
                                                .global_remove = RegistryGlobalRemove};

void SurfaceEnter(void* data, wl_surface*, wl_output* output)
{
    ScaledSurface* watched = static_cast<ScaledSurface*>(data);
    if (std::find(watched->outputs.begin(), watched->outputs.end(), output) ==
        watched->outputs.end()) {
        watched->outputs.push_back(output);
    }
    watched->scaleChanged = true;
}

void SurfaceLeave(void* data, wl_surface*, wl_output* output)
{
    ScaledSurface* watched = static_cast<ScaledSurface*>(data);
    watched->outputs.erase(std::remove(watched->outputs.begin(), watched->outputs.end(), output),
                           watched->outputs.end());
    watched->scaleChanged = true;
}

// The compositor is bound at version 4 at most: no preferred scale comes.
const wl_surface_listener kSurfaceListener = {.enter = SurfaceEnter, .leave = SurfaceLeave};

void DecorationsError(libdecor*, libdecor_error, const char* message)
{
    std::fprintf(stderr, "qavel-calib: window decorations: %s\n", message);
}

libdecor_interface kDecorationsInterface = {.error = DecorationsError};

// libwayland's own complaints: none while the program only looks for a compositor (its one line
// says what it found), its reasons afterwards.
bool connected = false;

void Complain(const char* format, va_list arguments)
{
    if (connected) {
        std::fputs("qavel-calib: wayland: ", stderr);
        std::vfprintf(stderr, format, arguments);
    }
}

// Lets go of everything after a failed start, so that X11 may be tried instead.
void Disconnect()
{
    seats.clear();
    outputs.clear();
    if (registry != nullptr) {
        wl_registry_destroy(registry);
        registry = nullptr;
    }
    wl_display_disconnect(globals.display);
    globals = Globals{};
}

int Pending(wl_event_queue* queue)
{
    return queue != nullptr ? wl_display_dispatch_queue_pending(globals.display, queue)
                            : wl_display_dispatch_pending(globals.display);
}

int PrepareRead(wl_event_queue* queue)
{
    return queue != nullptr ? wl_display_prepare_read_queue(globals.display, queue)
                            : wl_display_prepare_read(globals.display);
}

// Dispatches queue until it may be read from: true when it handled events on the way, which the
// caller looks at before it sleeps (then nothing was prepared); false once the display is gone.
bool Prepare(wl_event_queue* queue, bool* handled)
{
    *handled = false;
    while (PrepareRead(queue) != 0) {
        const int count = Pending(queue);
        if (count < 0) {
            CheckConnection();
            return false;
        }
        *handled = *handled || count > 0;
    }
    if (*handled) {
        wl_display_cancel_read(globals.display);
        return true;
    }
    if (wl_display_flush(globals.display) < 0 && errno != EAGAIN) {
        const int sendError = errno;
        wl_display_cancel_read(globals.display);
        CheckConnection(sendError);
        return false;
    }
    return true;
}

}  // namespace

const Globals& Wl()
{
    return globals;
}

void WatchScale(ScaledSurface* watched)
{
    wl_surface_add_listener(watched->surface, &kSurfaceListener, watched);
    watchedSurfaces.push_back(watched);
}

void UnwatchScale(ScaledSurface* watched)
{
    watchedSurfaces.erase(std::remove(watchedSurfaces.begin(), watchedSurfaces.end(), watched),
                          watchedSurfaces.end());
}

int ScaleOf(const ScaledSurface& watched)
{
    int scale = 0;
    for (const auto& output : outputs) {
        if (std::find(watched.outputs.begin(), watched.outputs.end(), output->output) !=
            watched.outputs.end()) {
            scale = std::max(scale, output->scale);
        }
    }
    return scale > 0 ? scale : 1;
}

bool CoversItsOutput(const ScaledSurface& shown, int width, int height)
{
    bool measured = false;
    for (const auto& output : outputs) {
        const bool on = shown.outputs.empty() ||
                        std::find(shown.outputs.begin(), shown.outputs.end(), output->output) !=
                            shown.outputs.end();
        if (!on || output->width <= 0 || output->height <= 0) {
            continue;
        }
        measured = true;
        int outputWidth = 0;
        int outputHeight = 0;
        SizeOnOutput(*output, &outputWidth, &outputHeight);
        if (width >= outputWidth && height >= outputHeight) {
            return true;
        }
    }
    return !measured;
}

bool SomeOutputSize(int* width, int* height)
{
    for (const auto& output : outputs) {
        if (output->width > 0 && output->height > 0) {
            SizeOnOutput(*output, width, height);
            return true;
        }
    }
    return false;
}

void RouteInput(const SurfaceInput* input)
{
    routed = input;
}

// The folder libdecor takes its plugins from: beside the library, in libdecor/plugins-1.
std::string PluginFolder()
{
    std::string folder;
    void* library = dlopen("libdecor-0.so.0", RTLD_LAZY | RTLD_NOLOAD);
    link_map* map = nullptr;
    if (library != nullptr && dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
        map->l_name != nullptr) {
        folder = map->l_name;
        folder = folder.substr(0, folder.rfind('/') + 1) + "libdecor/plugins-1";
    }
    if (library != nullptr) {
        dlclose(library);
    }
    return folder;
}

libdecor* Decorations()
{
    if (!decorationsTried) {
        decorationsTried = true;
        // Shown the folder of the cairo plugin alone (see ConnectWayland); libdecor loads its
        // plugin here, so the folder can go at once.
        const bool ownFolder =
            !decorationsFolder.empty() && mkdir(decorationsFolder.c_str(), 0700) == 0;
        const std::string cairo = decorationsFolder + "/libdecor-cairo.so";
        if (ownFolder) {
            // Where the plugin is not installed, libdecor falls back on no title bar.
            if (symlink((PluginFolder() + "/libdecor-cairo.so").c_str(), cairo.c_str()) != 0) {
                std::fprintf(stderr, "qavel-calib: window decorations: %s\n", std::strerror(errno));
            }
        }
        decorations = libdecor_new(globals.display, &kDecorationsInterface);
        if (ownFolder) {
            unlink(cairo.c_str());
            rmdir(decorationsFolder.c_str());
        }
    }
    return decorations;
}

bool DispatchPending()
{
    if (DisplayLost()) {
        return false;
    }
    if (wl_display_dispatch_pending(globals.display) < 0) {
        CheckConnection();
        return false;
    }
    return true;
}

bool DispatchDecorated()
{
    if (DisplayLost()) {
        return false;
    }
    if (decorations == nullptr) {
        return DispatchPending();
    }
    // libdecor's own dispatch: a toolkit's plugin (GTK) runs its title bar's events there, and
    // reads the display without waiting.
    const int result = libdecor_dispatch(decorations, 0);
    if (result < 0) {
        const int error = -result;
        CheckConnection(error == EPIPE || error == ECONNRESET ? error : 0);
    }
    return !DisplayLost();
}

bool WaitOnDisplay(wl_event_queue* queue, pollfd* fds, int count, int timeoutMs)
{
    bool handled = false;
    if (DisplayLost() || !Prepare(queue, &handled)) {
        return false;
    }
    if (handled) {
        return true;
    }
    pollfd descriptors[4] = {{wl_display_get_fd(globals.display), POLLIN, 0}};
    const int extra = std::min(count, 3);
    for (int i = 0; i < extra; ++i) {
        descriptors[i + 1] = fds[i];
    }
    // A signal only wakes the wait: its handler has made an fd of the caller's readable.
    const int ready = poll(descriptors, static_cast<nfds_t>(extra + 1), timeoutMs);
    for (int i = 0; i < extra; ++i) {
        fds[i].revents = ready > 0 ? descriptors[i + 1].revents : 0;
    }
    if (ready > 0 && descriptors[0].revents != 0) {
        if (wl_display_read_events(globals.display) < 0) {
            CheckConnection();
        }
    } else {
        wl_display_cancel_read(globals.display);
    }
    return !DisplayLost();
}

void SleepOnDisplay(pollfd* fds, int count)
{
    WaitOnDisplay(nullptr, fds, count, -1);
}

bool DispatchUntil(wl_event_queue* queue, const bool* done, int timeoutMs)
{
    const std::int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        if (DisplayLost()) {
            return false;
        }
        if (Pending(queue) < 0) {
            CheckConnection();
            return false;
        }
        if (*done) {
            return true;
        }
        // A signal ends the wait at once: the run is ending, within its own bound.
        if (OutsideEndRequested()) {
            return !DisplayLost();
        }
        const std::int64_t left = deadline - MonotonicMs();
        if (left <= 0) {
            return true;
        }
        pollfd outsideEnd{OutsideEndFd(), POLLIN, 0};
        if (!WaitOnDisplay(queue, &outsideEnd, 1, static_cast<int>(left))) {
            return false;
        }
    }
}

void CheckConnection(int sendError)
{
    wl_display* display = globals.display;
    // libwayland keeps a failed send (EPIPE) out of the display's error until it next reads, and
    // a loop that stops short of reading once a send fails would never learn of it.
    int error = wl_display_get_error(display);
    if (error == 0) {
        error = sendError;
    }
    if (error == 0) {
        return;
    }
    if (!DisplayLost()) {
        if (error == EPROTO) {
            const wl_interface* interface = nullptr;
            std::uint32_t id = 0;
            const std::uint32_t code = wl_display_get_protocol_error(display, &interface, &id);
            std::fprintf(stderr,
                         "qavel-calib: the compositor refused a request (error %u on %s %u); "
                         "ending the run\n",
                         code, interface != nullptr ? interface->name : "?", id);
        } else {
            std::fprintf(stderr, "qavel-calib: the Wayland display is gone; ending the run\n");
        }
    }
    NoteDisplayLost();
}

}  // namespace wayland

const DisplayBackend* ConnectWayland(std::string* failure)
{
    using namespace wayland;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || name[0] == '\0') {
        *failure = "WAYLAND_DISPLAY is not set";
        return nullptr;
    }
    const std::string which = std::string("Wayland display \"") + name + "\"";
    wl_log_set_handler_client(Complain);
    globals.display = wl_display_connect(name);
    if (globals.display == nullptr) {
        *failure = which + " does not answer";
        return nullptr;
    }
    registry = wl_display_get_registry(globals.display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    // The first round trip lists the globals, the second brings what each bound one tells at
    // once: the outputs' modes and scales, the seats' devices.
    if (wl_display_roundtrip(globals.display) < 0 || wl_display_roundtrip(globals.display) < 0) {
        *failure = which + " does not answer";
        Disconnect();
        return nullptr;
    }
    if (globals.compositor == nullptr || globals.shm == nullptr || globals.wmBase == nullptr) {
        *failure = which + " offers no desktop windows (xdg-shell)";
        Disconnect();
        return nullptr;
    }
    // The compositor sends whole keymaps, which need no layout data of the machine's: an image
    // without any (a container, a minimal kiosk) still has Esc.
    xkb = xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES |
                                                         XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    // libdecor is shown a folder of its cairo plugin alone. A toolkit's plugin (GTK's, which it
    // prefers where installed) ends the process with status 1 where the compositor goes away
    // under the box, or where there is no layout data, and takes a toolkit's start-up time; the
    // cairo plugin needs neither (with no plugin at all libdecor draws no title bar). The folder
    // is made when the box is, in the user's private runtime folder; the environment is set
    // here, while the program has one thread, as it is not to be changed beside another.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        decorationsFolder =
            std::string(runtime) + "/qavel-decor-" + std::to_string(static_cast<long>(getpid()));
    }
    setenv("LIBDECOR_PLUGIN_DIR",
           decorationsFolder.empty() ? "/dev/null" : decorationsFolder.c_str(), 1);
    connected = true;
    return &kWaylandDisplay;
}
