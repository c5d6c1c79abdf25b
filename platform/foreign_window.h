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

}  // namespace platform
