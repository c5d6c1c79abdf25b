// Another program's X11 window: existence, the private client message and
// bringing it to the front. Each call uses its own short-lived connection.
#include "platform/foreign_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace platform {
namespace {

// X resource ids use 29 bits; anything larger names no window.
constexpr window_handle MAX_X_ID = 0x1FFFFFFF;

// Xlib's error handler is process-wide. While one of our calls runs, errors
// on its connection are recorded instead of ending the process; errors on
// any other connection go on to the handler that was there before.
std::mutex handler_lock;
Display* guarded_display = nullptr;
bool guarded_error = false;
XErrorHandler previous_handler = nullptr;

int record_error(Display* display, XErrorEvent* event) {
    if (display == guarded_display) {
        guarded_error = true;
        return 0;
    }
    return previous_handler != nullptr ? previous_handler(display, event) : 0;
}

// A busy X server refuses connections for a moment (its listen queue is
// full: EAGAIN), so a failed open is tried again a few times.
Display* open_display() {
    constexpr int ATTEMPTS = 10;
    for (int attempt = 0;; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr)) return display;
        if (attempt + 1 == ATTEMPTS || std::getenv("DISPLAY") == nullptr) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// One connection with the error guard installed for its whole life.
class guarded_connection {
public:
    guarded_connection() : guard_(handler_lock) {
        display_ = open_display();
        if (display_ == nullptr) return;  // no display: every operation fails silently
        guarded_display = display_;
        guarded_error = false;
        previous_handler = XSetErrorHandler(record_error);
    }
    ~guarded_connection() {
        if (display_ == nullptr) return;
        XSync(display_, False);  // collect errors of the last requests before the handler goes
        XSetErrorHandler(previous_handler);
        guarded_display = nullptr;
        XCloseDisplay(display_);
    }
    guarded_connection(const guarded_connection&) = delete;
    guarded_connection& operator=(const guarded_connection&) = delete;

    Display* display() const { return display_; }
    // Sends everything and reports whether any request so far failed.
    bool sync_ok() {
        XSync(display_, False);
        return !guarded_error;
    }

private:
    std::lock_guard<std::mutex> guard_;
    Display* display_ = nullptr;
};

bool plausible_id(window_handle window) {
    return window != 0 && window <= MAX_X_ID;
}

// The window's attributes; false when it does not exist.
bool window_attributes(guarded_connection& connection, window_handle window, XWindowAttributes& attributes) {
    const Status status = XGetWindowAttributes(connection.display(), static_cast<Window>(window), &attributes);
    return connection.sync_ok() && status != 0;
}

XEvent client_message(Display* display, Window window, const char* type, long l0, long l1, long l2) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = display;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    return event;
}

}  // namespace

bool foreign_window_exists(window_handle window) {
    if (!plausible_id(window)) return false;
    guarded_connection connection;
    if (connection.display() == nullptr) return false;
    XWindowAttributes attributes{};
    return window_attributes(connection, window, attributes);
}

bool post_foreign_message(window_handle window, std::uint32_t id, wparam w, lparam l) {
    if (!plausible_id(window)) return false;
    guarded_connection connection;
    Display* display = connection.display();
    if (display == nullptr) return false;
    XEvent event = client_message(display, static_cast<Window>(window), "_TAMSA_WINDOW_MESSAGE", static_cast<long>(id),
                                  static_cast<long>(w), static_cast<long>(l));
    // No event mask: the event goes to the client that created the window.
    const Status sent = XSendEvent(display, static_cast<Window>(window), False, NoEventMask, &event);
    return connection.sync_ok() && sent != 0;
}

void show_and_raise_foreign_window(window_handle window) {
    if (!plausible_id(window)) return;
    guarded_connection connection;
    Display* display = connection.display();
    if (display == nullptr) return;
    XWindowAttributes attributes{};
    if (!window_attributes(connection, window, attributes)) return;
    XMapRaised(display, static_cast<Window>(window));
    // Source indication 2: a request on the user's behalf, which window
    // managers honour without focus-stealing checks.
    XEvent event = client_message(display, static_cast<Window>(window), "_NET_ACTIVE_WINDOW", 2, CurrentTime, 0);
    const Status sent =
        XSendEvent(display, attributes.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    // Failures are ignored on purpose: the window stays where it is.
    static_cast<void>(sent);
    static_cast<void>(connection.sync_ok());
}

}  // namespace platform
