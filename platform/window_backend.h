// The interface a display backend implements for platform/window.h; the
// free functions of window.h forward to the selected backend.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/window.h"

namespace platform {

class window_backend {
public:
    virtual ~window_backend() = default;

    virtual window_handle create_window(const window_params& params, message_handler* handler) = 0;
    virtual void destroy_window(window_handle window) = 0;
    virtual bool is_window(window_handle window) = 0;

    virtual rect window_rect(window_handle window) = 0;
    virtual rect client_rect(window_handle window) = 0;
    virtual void move_window(window_handle window, int x, int y, int width, int height) = 0;
    virtual void show_window(window_handle window, int show_command) = 0;
    virtual bool is_window_visible(window_handle window) = 0;
    virtual bool is_maximized(window_handle window) = 0;
    virtual bool is_minimized(window_handle window) = 0;
    virtual void enable_window(window_handle window, bool enable) = 0;
    virtual bool is_window_enabled(window_handle window) = 0;
    virtual window_handle owner_of(window_handle window) = 0;
    virtual rect monitor_rect_near(window_handle window) = 0;
    virtual rect work_area_near(window_handle window) = 0;

    virtual void set_window_text(window_handle window, const std::wstring& text) = 0;
    virtual std::wstring window_text(window_handle window) = 0;
    virtual std::uint32_t window_style(window_handle window) = 0;
    virtual void set_window_style(window_handle window, std::uint32_t style) = 0;
    virtual void set_window_modal(window_handle window, bool modal) = 0;
    virtual void set_window_round_corners(window_handle window, size corner) = 0;

    virtual void invalidate_rect(window_handle window, const rect* area) = 0;
    virtual rect take_update_rect(window_handle window) = 0;
    virtual void present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
                         const rect& area) = 0;

    virtual void set_capture(window_handle window) = 0;
    virtual void release_capture() = 0;
    virtual window_handle get_capture() = 0;
    virtual void set_focus(window_handle window) = 0;
    virtual window_handle get_focus() = 0;
    virtual void set_cursor(cursor_kind cursor) = 0;
    virtual cursor_kind current_cursor() = 0;

    virtual void begin_window_drag(window_handle window, point screen_point) = 0;
    virtual void minimize_window(window_handle window) = 0;
    // -1: this display has no message box of its own.
    virtual int system_message_box(window_handle, const std::wstring&, const std::wstring&, std::uint32_t) {
        return -1;
    }
};

// The off-screen display (always available).
window_backend& offscreen_window_backend();
// The X11 display named by $DISPLAY, connected on first use; null when no
// display can be opened.
window_backend* x11_window_backend();
// The Win32 display of the Windows build; null in a build without it.
window_backend* win32_window_backend();

// What every backend keeps the same way for its windows: the update area
// with its one pending WM_PAINT, the enabled state (a disabled window drops
// input), the capture and the focus. A backend reports input through
// post_input and exposure through invalidate. Safe from any thread; no lock
// is held while a window's handler runs.
class window_bookkeeping {
public:
    void add(window_handle window, size client, bool visible);
    void remove(window_handle window);
    bool known(window_handle window);
    void set_client_size(window_handle window, size client);
    // A window that becomes visible is exposed as a whole.
    void set_visible(window_handle window, bool visible);

    // Adds to the update area (the whole client area for null) and posts
    // WM_PAINT unless one is already pending.
    void invalidate(window_handle window, const rect* area);
    rect take_update(window_handle window);
    // The update area not yet taken and whether its WM_PAINT is queued.
    bool update_state(window_handle window, rect& pending, bool& paint_posted);

    // Sends WM_ENABLE when the state changes; false for an unknown window.
    bool set_enabled(window_handle window, bool enable);
    bool enabled(window_handle window);
    // Queues an input message (keys, mouse, the user's close) unless the
    // window is disabled or unknown; false when it was dropped.
    bool post_input(window_handle window, std::uint32_t id, wparam w, lparam l);

    void set_capture(window_handle window);
    void release_capture();
    window_handle capture();
    // Moves the focus; the window losing it hears WM_KILLFOCUS and the one
    // gaining it WM_SETFOCUS, as SetFocus sends them. 0 takes it from ours.
    void set_focus(window_handle window);
    window_handle focus();

private:
    struct entry {
        size client;
        bool visible = false;
        bool enabled = true;
        rect pending_update;
        bool paint_posted = false;
    };
    entry* find(window_handle window);

    std::mutex mutex_;
    std::unordered_map<window_handle, entry> windows_;
    window_handle capture_ = 0;
    window_handle focus_ = 0;
};

// The union of two rectangles; an empty one does not count.
rect union_rect(const rect& a, const rect& b);
// The common part of two rectangles; empty (all 0) when they do not meet.
rect intersect_rect(const rect& a, const rect& b);

}  // namespace platform
