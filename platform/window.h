// Our own top-level windows: creation, geometry, invalidation and painting,
// capture, focus and cursor. Backends: the X11 display for the program and
// an off-screen display (no server needed) for unit tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_queue.h"
#include "platform/types.h"

namespace platform {

enum class display_kind { x11, offscreen };

// Chooses the backend before the first window is made; false when that
// backend cannot be used. Without a choice the off-screen display is used.
bool select_display(display_kind kind);
display_kind current_display();

struct window_params {
    std::wstring class_name;
    std::wstring title;
    window_handle owner = 0;  // WM_TRANSIENT_FOR on X11
    rect bounds;              // screen position and size
};

enum class cursor_kind { arrow, hand };

// Creates a hidden, undecorated window bound to handler. The handler gets
// WM_NCCREATE and WM_CREATE before this returns. 0 on failure.
window_handle create_window(const window_params& params, message_handler* handler);
void destroy_window(window_handle window);
bool is_window(window_handle window);

rect window_rect(window_handle window);  // screen coordinates
rect client_rect(window_handle window);  // 0,0,width,height
void move_window(window_handle window, int x, int y, int width, int height);
void show_window(window_handle window, int show_command);
bool is_window_visible(window_handle window);
bool is_minimized(window_handle window);
void enable_window(window_handle window, bool enable);
bool is_window_enabled(window_handle window);
window_handle owner_of(window_handle window);
rect work_area_near(window_handle window);

// Marks part of the client area for repainting (the whole client area when
// area is null); a WM_PAINT is posted once until the update area is taken.
void invalidate_rect(window_handle window, const rect* area);
// The pending update area, cleared by the call (BeginPaint's rectangle).
rect take_update_rect(window_handle window);
// Copies a rectangle of a premultiplied 32-bit BGRA image (top-down rows of
// stride bytes) onto the window's client area at the same position.
void present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
             const rect& area);

void set_capture(window_handle window);
void release_capture();
window_handle get_capture();
void set_focus(window_handle window);
window_handle get_focus();
void set_cursor(cursor_kind cursor);
cursor_kind current_cursor();

// Asks the window manager to move the window with the pointer (caption drag).
void begin_window_drag(window_handle window, point screen_point);
void minimize_window(window_handle window);

// Milliseconds since an arbitrary start; the time stamp of events.
std::uint64_t tick_count();

}  // namespace platform
