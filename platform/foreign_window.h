// Another program's window (the product's main window): an X11 window id on
// Linux. Every operation fails silently when there is no display or the id
// names no window.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

// True when the window exists (XGetWindowAttributes succeeds).
bool foreign_window_exists(window_handle window);
// Sends the message as a _TAMSA_WINDOW_MESSAGE client message with
// data.l = {id, w, l}. False when it could not be sent.
bool post_foreign_message(window_handle window, std::uint32_t id, wparam w, lparam l);
// Shows the window normally and brings it to the front (map, raise, and a
// _NET_ACTIVE_WINDOW request to the root window).
void show_and_raise_foreign_window(window_handle window);
// The id of the process that owns the window (_NET_WM_PID on X11,
// GetWindowThreadProcessId on Windows); 0 when the window names none.
std::int32_t foreign_window_process(window_handle window);
// Asks the window manager to activate the window (keyboard focus), without
// mapping it.
void activate_foreign_window(window_handle window);

// What our windows need of an owner that is another program's window: its
// outer rectangle in screen coordinates (empty when it is no window), its
// minimised state (WM_STATE Iconic), and the monitor and work area it is on.
rect foreign_window_rect(window_handle window);
bool foreign_window_minimized(window_handle window);
rect foreign_monitor_rect(window_handle window);
rect foreign_work_area(window_handle window);

}  // namespace platform
