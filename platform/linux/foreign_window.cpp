// Another program's X11 window: existence, the private client message,
// bringing it to the front, and its geometry and state as an owner. Each
// call uses its own short-lived connection, so any thread may call.
#include "platform/foreign_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "platform/linux/x11_support.h"

namespace platform {
namespace {

// X resource ids use 29 bits; anything larger names no window.
constexpr window_handle MAX_X_ID = 0x1FFFFFFF;

// One short-lived connection. Its errors are recorded on it (the failed
// request simply fails); Xlib's process-wide error handler is left alone.
class connection {
public:
    connection() : display_(x11::open_display()) {}
    ~connection() { x11::close_display(display_); }
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    Display* display() const { return display_; }

private:
    Display* display_;
};

bool plausible_id(window_handle window) {
    return window != 0 && window <= MAX_X_ID;
}

// The window's attributes; false when it does not exist.
bool window_attributes(Display* display, window_handle window, XWindowAttributes& attributes) {
    const std::uint64_t mark = x11::error_mark(display);
    const Status status = XGetWindowAttributes(display, static_cast<Window>(window), &attributes);
    return !x11::failed_since(display, mark) && status != 0;
}

// Asks the window manager to activate the window; source indication 2 is a
// request on the user's behalf, which window managers honour without
// focus-stealing checks.
void request_activation(Display* display, Window window, Window root) {
    const bool sent = x11::send_client_message(display, root, window, x11::atom(display, "_NET_ACTIVE_WINDOW"),
                                               SubstructureRedirectMask | SubstructureNotifyMask, 2, CurrentTime, 0);
    static_cast<void>(sent);  // ignored on purpose: the window stays where it is
}

}  // namespace

bool foreign_window_exists(window_handle window) {
    if (!plausible_id(window)) return false;
    connection c;
    if (c.display() == nullptr) return false;
    XWindowAttributes attributes{};
    return window_attributes(c.display(), window, attributes);
}

bool post_foreign_message(window_handle window, std::uint32_t id, wparam w, lparam l) {
    if (!plausible_id(window)) return false;
    connection c;
    Display* display = c.display();
    if (display == nullptr) return false;
    const std::uint64_t mark = x11::error_mark(display);
    // No event mask: the event goes to the client that created the window.
    const bool sent = x11::send_client_message(display, static_cast<Window>(window), static_cast<Window>(window),
                                               x11::atom(display, "_TAMSA_WINDOW_MESSAGE"), NoEventMask,
                                               static_cast<long>(id), static_cast<long>(w), static_cast<long>(l));
    return !x11::failed_since(display, mark) && sent;
}

std::int32_t foreign_window_process(window_handle window) {
    if (!plausible_id(window)) return 0;
    connection c;
    Display* display = c.display();
    if (display == nullptr) return 0;
    const std::uint64_t mark = x11::error_mark(display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, static_cast<Window>(window), x11::atom(display, "_NET_WM_PID"), 0, 1,
                                          False, XA_CARDINAL, &type, &format, &count, &after, &data);
    std::int32_t pid = 0;
    if (status == Success && !x11::failed_since(display, mark) && type == XA_CARDINAL && format == 32 && count == 1 &&
        data != nullptr) {
        // Format 32 comes as longs whatever their width.
        const long value = *reinterpret_cast<const long*>(data);
        if (value > 0 && value <= 0x7FFFFFFF) pid = static_cast<std::int32_t>(value);
    }
    if (data != nullptr) XFree(data);
    return pid;
}

void show_and_raise_foreign_window(window_handle window) {
    if (!plausible_id(window)) return;
    connection c;
    Display* display = c.display();
    if (display == nullptr) return;
    XWindowAttributes attributes{};
    if (!window_attributes(display, window, attributes)) return;
    const std::uint64_t mark = x11::error_mark(display);
    XMapRaised(display, static_cast<Window>(window));
    request_activation(display, static_cast<Window>(window), attributes.root);
    // A failure is ignored on purpose (the window went away meanwhile).
    static_cast<void>(x11::failed_since(display, mark));
}

void activate_foreign_window(window_handle window) {
    if (!plausible_id(window)) return;
    connection c;
    Display* display = c.display();
    if (display == nullptr) return;
    XWindowAttributes attributes{};
    if (!window_attributes(display, window, attributes)) return;
    const std::uint64_t mark = x11::error_mark(display);
    request_activation(display, static_cast<Window>(window), attributes.root);
    static_cast<void>(x11::failed_since(display, mark));  // ignored on purpose, as above
}

rect foreign_window_rect(window_handle window) {
    if (!plausible_id(window)) return {};
    connection c;
    return c.display() ? x11::outer_rect(c.display(), static_cast<Window>(window)) : rect{};
}

bool foreign_window_minimized(window_handle window) {
    if (!plausible_id(window)) return false;
    connection c;
    return c.display() != nullptr && x11::is_iconic(c.display(), static_cast<Window>(window));
}

// One screen: every window is on the same monitor.
rect foreign_monitor_rect(window_handle) {
    connection c;
    return c.display() ? x11::screen_rect(c.display()) : rect{};
}

rect foreign_work_area(window_handle) {
    connection c;
    return c.display() ? x11::work_area(c.display()) : rect{};
}

}  // namespace platform
