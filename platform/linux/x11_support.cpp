// Connections, error records, atoms and screen geometry for the X11 code.
#include "platform/linux/x11_support.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/debug_output.h"
#include "platform/window_backend.h"

namespace platform::x11 {
namespace {

// Errors per connection: a count that only grows, so a caller compares it
// with the count it saw before its requests.
std::mutex error_lock;
std::unordered_map<Display*, std::uint64_t>& error_counts() {
    static auto* counts = new std::unordered_map<Display*, std::uint64_t>;
    return *counts;
}

// The hook belongs to each connection, so nothing process-wide is swapped
// while other connections live.
void record_error(Display* display, int code, int major, int minor) {
    {
        std::lock_guard guard(error_lock);
        ++error_counts()[display];
    }
    debug_output("[TamsaUpdate]: X error " + std::to_string(code) + " on request " + std::to_string(major) + "." +
                 std::to_string(minor));
}

// The X server closed a connection under us (it ended, or a client such as
// xkill killed ours), and Xlib cannot go on with it. Said in the log; the
// process then ends as Xlib's own handler ends it, through exit, whose
// handlers enable the product's window again over a new connection. A second
// loss met by those handlers ends the process at once.
int connection_lost(Display*) {
    static std::atomic<bool> ending{false};
    if (ending.exchange(true)) std::_Exit(1);
    debug_output("[TamsaUpdate]: the connection to the X display was lost; ending");
    std::exit(1);
}

void init_threads_once() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Must come before the first connection; a failure leaves Xlib
        // unlocked, which only matters if two threads share a connection.
        if (XInitThreads() == 0) debug_output("[TamsaUpdate]: XInitThreads failed");
        (void)XSetIOErrorHandler(connection_lost);
    });
}

bool watch_errors(Display* display) {
    if (!install_error_hook(display, record_error)) return false;
    std::lock_guard guard(error_lock);
    error_counts()[display] = 0;
    return true;
}

long property_long(Display* display, Window window, Atom property, Atom type, long index, bool& found) {
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    found = false;
    const int status =
        XGetWindowProperty(display, window, property, index, 1, False, type, &actual, &format, &count, &after, &data);
    long value = 0;
    if (status == Success && data != nullptr && format == 32 && count == 1) {
        value = reinterpret_cast<long*>(data)[0];
        found = true;
    }
    if (data != nullptr) XFree(data);
    return value;
}

}  // namespace

Display* open_display() {
    init_threads_once();
    if (std::getenv("DISPLAY") == nullptr) return nullptr;
    // A busy X server refuses connections for a moment (its listen queue
    // is full), so a failed open is tried again a few times.
    constexpr int ATTEMPTS = 10;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) {
            if (watch_errors(display)) return display;
            XCloseDisplay(display);
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

void close_display(Display* display) {
    if (display == nullptr) return;
    XCloseDisplay(display);
    std::lock_guard guard(error_lock);
    error_counts().erase(display);
}

std::uint64_t error_mark(Display* display) {
    std::lock_guard guard(error_lock);
    return error_counts()[display];
}

bool failed_since(Display* display, std::uint64_t mark) {
    XSync(display, False);
    return error_mark(display) != mark;
}

Atom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

bool send_client_message(Display* display, Window target, Window window, Atom type, long mask, long l0, long l1,
                         long l2, long l3, long l4) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = display;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    return XSendEvent(display, target, False, mask, &event) != 0;
}

rect screen_rect(Display* display) {
    const int screen = DefaultScreen(display);
    return {0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
}

rect work_area(Display* display) {
    const rect screen = screen_rect(display);
    const Window root = DefaultRootWindow(display);
    bool found = false;
    long desktop = property_long(display, root, atom(display, "_NET_CURRENT_DESKTOP"), XA_CARDINAL, 0, found);
    if (!found || desktop < 0) desktop = 0;
    const Atom workarea = atom(display, "_NET_WORKAREA");
    rect area;
    bool ok = true;
    long values[4] = {};
    for (int i = 0; i < 4 && ok; ++i)
        values[i] = property_long(display, root, workarea, XA_CARDINAL, desktop * 4 + i, ok);
    if (!ok) return screen;
    area = {static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[0] + values[2]),
            static_cast<int>(values[1] + values[3])};
    area = intersect_rect(area, screen);
    return area.empty() ? screen : area;
}

rect outer_rect(Display* display, Window window) {
    const std::uint64_t mark = error_mark(display);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0 || failed_since(display, mark)) return {};
    int x = 0;
    int y = 0;
    Window child = 0;
    if (XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child) == 0) return {};
    rect r{x, y, x + attributes.width, y + attributes.height};
    // As GetWindowRect: the frame the window manager put around it counts.
    const Atom extents = atom(display, "_NET_FRAME_EXTENTS");
    long frame[4] = {};
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) frame[i] = property_long(display, window, extents, XA_CARDINAL, i, ok);
    if (ok) {
        r.left -= static_cast<int>(frame[0]);
        r.right += static_cast<int>(frame[1]);
        r.top -= static_cast<int>(frame[2]);
        r.bottom += static_cast<int>(frame[3]);
    }
    return r;
}

bool is_iconic(Display* display, Window window) {
    const Atom wm_state = atom(display, "WM_STATE");
    bool found = false;
    const long state = property_long(display, window, wm_state, wm_state, 0, found);
    return found && state == IconicState;
}

}  // namespace platform::x11
