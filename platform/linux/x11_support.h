// Helpers shared by the X11 code of the platform layer: opening a
// connection (Xlib made thread-safe first), a per-connection error record
// instead of the process-wide error handler, atoms, client messages and the
// screen's geometry.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>

#include "platform/types.h"

namespace platform::x11 {

// Opens the display named by $DISPLAY (null when there is none). XInitThreads
// runs once before the first connection of the process. Errors on the
// connection are recorded for errors_since instead of reaching Xlib's
// process-wide handler, which is never replaced.
Display* open_display();
void close_display(Display* display);

// Sends what is queued, waits for the server and tells whether any request
// made since mark failed. mark is the value of error_mark taken before them.
std::uint64_t error_mark(Display* display);
bool failed_since(Display* display, std::uint64_t mark);

Atom atom(Display* display, const char* name);

// Receives the errors of the connections that install_error_hook watches.
using error_sink = void (*)(Display* display, int code, int major, int minor);
// Makes errors on this one connection go to sink instead of Xlib's
// process-wide handler; false when Xlib refused the hook.
bool install_error_hook(Display* display, error_sink sink);

// A 32-bit client message about window, sent to target with mask (no mask:
// to the window's creator).
bool send_client_message(Display* display, Window target, Window window, Atom type, long mask, long l0, long l1 = 0,
                         long l2 = 0, long l3 = 0, long l4 = 0);

// The whole screen, and the work area from _NET_WORKAREA (the current
// desktop's) within it, else the screen.
rect screen_rect(Display* display);
rect work_area(Display* display);

// A window's outer rectangle in root coordinates, with the frame that the
// window manager reports in _NET_FRAME_EXTENTS; empty when it is no window.
rect outer_rect(Display* display, Window window);
// True when the window's WM_STATE is Iconic.
bool is_iconic(Display* display, Window window);

}  // namespace platform::x11
