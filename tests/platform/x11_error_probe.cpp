// Makes the X server answer a request with an error that the program reads
// while it reads events (XPending), as the UI thread's loop does, then says
// whether the program lived through it and the error was seen.
//   x11_error_probe   prints "survived seen" or "survived unseen", exit 0
#include <X11/Xlib.h>
#include <poll.h>

#include <cstdio>

#include "platform/linux/x11_support.h"

int main() {
    Display* display = platform::x11::open_display();
    if (display == nullptr) return 3;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    XSync(display, False);
    const std::uint64_t mark = platform::x11::error_mark(display);
    // Focus to a window that is not viewable: BadMatch, read later as events are.
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XFlush(display);
    // Only the event reads take in what the server sends for a while: the
    // check below makes a round trip, which would read the error itself.
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    for (int i = 0; i < 25; ++i) {
        (void)poll(&connection, 1, 20);
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
    }
    const bool seen = platform::x11::failed_since(display, mark);
    std::printf("survived %s\n", seen ? "seen" : "unseen");
    std::fflush(stdout);
    platform::x11::close_display(display);
    return 0;
}
