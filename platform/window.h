// Our own top-level windows: creation, geometry, invalidation and painting,
// capture, focus and cursor. Backends: the X11 or Win32 display for the
// program and an off-screen display (no server needed) for unit tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_queue.h"
#include "platform/types.h"

namespace platform {

enum class display_kind { x11, offscreen, win32 };

// Chooses the backend before the first window is made; false when that
// backend cannot be used. Without a choice the off-screen display is used.
bool select_display(display_kind kind);
display_kind current_display();
// The display of the system the program was built for: X11 on Linux, the
// Win32 display on Windows.
display_kind native_display();

struct window_params {
    std::wstring class_name;
    std::wstring title;
    window_handle owner = 0;  // WM_TRANSIENT_FOR on X11; may be another program's window
    rect bounds;              // screen position and size
    // CW_USEDEFAULT for the position or the size: the system places or sizes
    // the window where it has such a default (Win32); bounds serve elsewhere.
    bool default_position = false;
    bool default_size = false;
    std::uint32_t class_style = 0;  // CS_DBLCLKS: double-clicks arrive as WM_LBUTTONDBLCLK
    std::uint32_t style = 0;        // WS_* bits, read back by window_style
    std::uint32_t ex_style = 0;     // WS_EX_* bits
};

enum class cursor_kind { arrow, hand };

// Creates an undecorated window bound to handler, hidden (on Win32 it is
// created with the style as given, so WS_VISIBLE shows it at once). The
// handler gets WM_NCCREATE and WM_CREATE before this returns. 0 on failure.
window_handle create_window(const window_params& params, message_handler* handler);
void destroy_window(window_handle window);
bool is_window(window_handle window);

rect window_rect(window_handle window);  // screen coordinates
rect client_rect(window_handle window);  // 0,0,width,height
void move_window(window_handle window, int x, int y, int width, int height);
// SW_HIDE, SW_SHOWNORMAL/SW_SHOW, SW_MINIMIZE, SW_MAXIMIZE (the placement that
// WM_GETMINMAXINFO answers) and SW_RESTORE, with their Win32 meanings.
void show_window(window_handle window, int show_command);
bool is_maximized(window_handle window);
bool is_window_visible(window_handle window);
bool is_minimized(window_handle window);
void enable_window(window_handle window, bool enable);
// Enables again every window that enable_window disabled and nothing has
// enabled since, so that the product's window never stays disabled after we
// end, whatever the path. Runs by itself when the process exits; a path that
// ends it otherwise (a lost display connection) calls it first.
void enable_windows_left_disabled();
bool is_window_enabled(window_handle window);
window_handle owner_of(window_handle window);
// The monitor nearest to the window (or to another program's window), and
// its work area (the monitor less panels and docks).
rect monitor_rect_near(window_handle window);
rect work_area_near(window_handle window);

// The title (_NET_WM_NAME and WM_NAME on X11).
void set_window_text(window_handle window, const std::wstring& text);
std::wstring window_text(window_handle window);
// The WS_* bits (GWL_STYLE). Changing WS_CAPTION changes no decoration: our
// windows never have one; the bits are kept for whoever reads them back.
std::uint32_t window_style(window_handle window);
void set_window_style(window_handle window, std::uint32_t style);
// Marks a window as a modal dialog of its owner (_NET_WM_STATE_MODAL and the
// dialog type on X11) before it is shown.
void set_window_modal(window_handle window, bool modal);
// Clips the window to a rectangle with rounded corners (an ellipse of
// corner.cx x corner.cy); 0 x 0 removes the clip.
void set_window_round_corners(window_handle window, size corner);

// Marks part of the client area for repainting (the whole client area when
// area is null); a WM_PAINT is posted once until the update area is taken.
void invalidate_rect(window_handle window, const rect* area);
// The pending update area, cleared by the call (BeginPaint's rectangle).
rect take_update_rect(window_handle window);
// Copies a rectangle of a premultiplied 32-bit BGRA image (top-down rows of
// stride bytes) onto the window's client area at the same position.
void present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride, const rect& area);

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

// The system's own modal message box (MessageBoxW) where the display has one,
// owned by owner: IDOK, IDCANCEL, IDRETRY..., 0 when it could not be shown,
// and -1 on a display without one (X11, off-screen), where the toolkit
// draws its own.
int system_message_box(window_handle owner, const std::wstring& text, const std::wstring& caption, std::uint32_t type);

// Milliseconds since an arbitrary start; the time stamp of events.
std::uint64_t tick_count();

}  // namespace platform
