// The X11 display's private state, shared by its parts: x11_display.cpp
// (connection, creation, properties, painting), x11_wm.cpp (requests to the
// window manager: geometry and state) and x11_events.cpp (events into window
// messages). Nothing outside platform/linux/ includes it.
#pragma once

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foreign_window.h"
#include "platform/linux/x11_support.h"
#include "platform/linux/x11_surface.h"
#include "platform/window_backend.h"

namespace platform::x11 {

// Two presses within this time and box make a double-click (Windows'
// defaults: GetDoubleClickTime, SM_CXDOUBLECLK).
inline constexpr Time DOUBLE_CLICK_MS = 500;
inline constexpr int DOUBLE_CLICK_BOX = 4;
// A press on the caption hands the window to the window manager's move only
// once the pointer has travelled this far with the button held (Windows'
// SM_CXDRAG): a click or the first press of a double-click never starts it.
inline constexpr int DRAG_THRESHOLD = 4;
// _NET_WM_MOVERESIZE direction "move", and _NET_WM_STATE actions.
inline constexpr long MOVERESIZE_MOVE = 8;
inline constexpr long STATE_REMOVE = 0;
inline constexpr long STATE_ADD = 1;

struct atoms {
    Atom wm_protocols, wm_delete_window, wm_state, net_wm_ping, motif_wm_hints, net_wm_name, utf8_string, net_wm_state,
        net_wm_state_modal, net_wm_state_max_vert, net_wm_state_max_horz, net_wm_window_type, net_wm_window_type_normal,
        net_wm_window_type_dialog, net_wm_moveresize, net_active_window, net_wm_pid;
};

atoms intern_atoms(Display* d);

inline lparam size_lparam(int width, int height) {
    return static_cast<lparam>((static_cast<std::uint32_t>(height & 0xFFFF) << 16) |
                               static_cast<std::uint32_t>(width & 0xFFFF));
}

inline size size_of(const rect& r) {
    return {std::max(0, r.width()), std::max(0, r.height())};
}

// One of our windows as the display sees it.
struct x11_window {
    Window id = 0;
    std::wstring title;
    std::uint32_t class_style = 0;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    window_handle owner = 0;
    rect bounds;  // screen coordinates; the whole window is client area
    rect restore_bounds;
    bool shown = false;   // WS_VISIBLE: shown by show_window, also while minimised
    bool mapped = false;  // asked to be mapped (the window manager may still hold it back)
    bool minimized = false;
    bool maximized = false;
    bool modal = false;
    size corner;
    Cursor cursor = 0;
    GC gc = nullptr;
    std::unique_ptr<surface> pixels;
    // The last left press, for double-clicks; whether it was on the caption
    // (its release is then no client input), and whether it may still
    // become the window manager's move once the pointer travels.
    Time last_press_time = 0;
    point last_press;
    bool last_press_caption = false;
    bool press_on_caption = false;
    bool drag_pending = false;
};

// The backend behind platform/window.h on X11, and the event source that
// the message queue polls.
class x11_backend final : public window_backend, public event_source {
public:
    explicit x11_backend(Display* display);

    // --- event_source ---

    int descriptor() const override { return ConnectionNumber(display_); }

    void pump() override {
        // XPending also flushes what the UI thread asked of the server.
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            translate(event);
        }
    }

    // --- window_backend ---

    window_handle create_window(const window_params& params, message_handler* handler) override;
    void destroy_window(window_handle window) override;
    bool is_window(window_handle window) override { return own(window) || foreign_window_exists(window); }

    rect window_rect(window_handle window) override {
        std::lock_guard lock(mutex_);
        if (const x11_window* w = find(window)) return w->bounds;
        return foreign_window_rect(window);
    }

    rect client_rect(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w ? rect{0, 0, size_of(w->bounds).cx, size_of(w->bounds).cy} : rect{};
    }

    void move_window(window_handle window, int x, int y, int width, int height) override;
    void show_window(window_handle window, int show_command) override;

    bool is_window_visible(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w != nullptr && w->shown;
    }
    bool is_maximized(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w != nullptr && w->maximized;
    }
    bool is_minimized(window_handle window) override {
        {
            std::lock_guard lock(mutex_);
            if (const x11_window* w = find(window)) return w->minimized;
        }
        return foreign_window_minimized(window);
    }

    // Another program cannot be disabled on X11; it is told with the
    // private client message {WM_ENABLE, 0 or 1, 0} and ignores input itself.
    void enable_window(window_handle window, bool enable) override {
        if (book_.set_enabled(window, enable)) return;
        if (!post_foreign_message(window, WM_ENABLE, enable ? 1 : 0, 0)) return;
        std::lock_guard lock(mutex_);
        foreign_enabled_[window] = enable;
    }
    bool is_window_enabled(window_handle window) override {
        if (own(window)) return book_.enabled(window);
        std::lock_guard lock(mutex_);
        auto it = foreign_enabled_.find(window);
        return it == foreign_enabled_.end() || it->second;
    }

    window_handle owner_of(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w ? w->owner : 0;
    }

    // One screen: every window of ours is on the same monitor.
    rect monitor_rect_near(window_handle window) override {
        if (window != 0 && !own(window)) return foreign_monitor_rect(window);
        return screen_rect(display_);
    }
    rect work_area_near(window_handle window) override {
        if (window != 0 && !own(window)) return foreign_work_area(window);
        return work_area(display_);
    }

    void set_window_text(window_handle window, const std::wstring& text) override;
    std::wstring window_text(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w ? w->title : std::wstring{};
    }
    std::uint32_t window_style(window_handle window) override {
        std::lock_guard lock(mutex_);
        const x11_window* w = find(window);
        return w ? w->style : 0;
    }
    void set_window_style(window_handle window, std::uint32_t style) override {
        std::lock_guard lock(mutex_);
        if (x11_window* w = find(window)) w->style = style;
    }
    void set_window_modal(window_handle window, bool modal) override;
    void set_window_round_corners(window_handle window, size corner) override;

    void invalidate_rect(window_handle window, const rect* area) override { book_.invalidate(window, area); }
    rect take_update_rect(window_handle window) override { return book_.take_update(window); }
    void present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
                 const rect& area) override;

    void set_capture(window_handle window) override { book_.set_capture(window); }
    void release_capture() override { book_.release_capture(); }
    window_handle get_capture() override { return book_.capture(); }
    void set_focus(window_handle window) override;
    window_handle get_focus() override { return book_.focus(); }
    void set_cursor(cursor_kind cursor) override;
    cursor_kind current_cursor() override {
        std::lock_guard lock(mutex_);
        return cursor_;
    }

    void begin_window_drag(window_handle window, point screen_point) override;
    void minimize_window(window_handle window) override { show_window(window, SW_MINIMIZE); }

private:
    bool own(window_handle window) {
        std::lock_guard lock(mutex_);
        return find(window) != nullptr;
    }
    x11_window* find(window_handle window) {
        auto it = windows_.find(window);
        return it == windows_.end() ? nullptr : it->second.get();
    }

    void set_window_properties(const x11_window& w, const window_params& params);
    void write_state_property(const x11_window& w);
    void change_state(const x11_window& w, long action, Atom first, Atom second);
    void apply_size_hints(window_handle window, const minmax_info& info, const rect& bounds);
    minmax_info ask_minmax(window_handle window);
    void map(window_handle window, bool activate);
    void maximize(window_handle window);
    void restore_from_maximized(window_handle window);
    void iconify(window_handle window);
    void request_activation(Window id);
    void define_cursor(x11_window& w, Cursor cursor);

    // What a new place and size changed, for the messages that tell of it.
    struct bounds_change {
        bool moved = false;
        bool resized = false;
        bool maximized = false;
    };
    // Under mutex_: stores the window's new bounds.
    bounds_change store_bounds(x11_window& w, const rect& bounds);
    // Outside the lock: WM_MOVE and WM_SIZE (size as its lparam) as SetWindowPos sends them.
    void announce_bounds(window_handle window, const bounds_change& change, const rect& bounds, lparam size);

    void translate(XEvent& event);
    void on_configure(const XConfigureEvent& event);
    void on_property(const XPropertyEvent& event);
    void on_key(XKeyEvent& event, bool press);
    void on_button(const XButtonEvent& event, bool press);
    void on_left_press(window_handle window, const XButtonEvent& event);
    void on_motion(const XMotionEvent& event);
    void on_focus(const XFocusChangeEvent& event, bool in);
    void on_client_message(const XClientMessageEvent& event);

    Display* display_;
    int screen_;
    Window root_;
    atoms atoms_;
    Cursor arrow_;
    Cursor hand_;
    bool allow_shm_ = true;
    window_bookkeeping book_;
    std::mutex mutex_;
    std::map<window_handle, std::unique_ptr<x11_window>> windows_;
    std::map<window_handle, bool> foreign_enabled_;
    window_handle pointer_window_ = 0;  // the window of ours the pointer is over
    cursor_kind cursor_ = cursor_kind::arrow;
    std::vector<unsigned> keys_down_ = std::vector<unsigned>(256, 0);
};

}  // namespace platform::x11
