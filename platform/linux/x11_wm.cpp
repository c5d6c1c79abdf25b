// Requests to the window manager for our windows: geometry, size hints,
// mapping, minimising, maximising and restoring, and the caption drag.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

#include "platform/debug_output.h"
#include "platform/linux/x11_backend.h"

namespace platform::x11 {

// --- geometry and state ---

void x11_backend::move_window(window_handle window, int x, int y, int width, int height) {
    const rect bounds{x, y, x + std::max(0, width), y + std::max(0, height)};
    bounds_change change;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        change = store_bounds(*w, bounds);
        XMoveResizeWindow(display_, w->id, x, y, static_cast<unsigned>(std::max(1, width)),
                          static_cast<unsigned>(std::max(1, height)));
        XFlush(display_);
    }
    // As SetWindowPos: the window hears of its new place at once; the
    // ConfigureNotify that follows then finds nothing changed.
    announce_bounds(window, change, bounds, size_lparam(width, height));
}

x11_backend::bounds_change x11_backend::store_bounds(x11_window& w, const rect& bounds) {
    bounds_change change;
    change.resized = size_of(w.bounds) != size_of(bounds);
    change.moved = w.bounds.left != bounds.left || w.bounds.top != bounds.top;
    change.maximized = w.maximized;
    w.bounds = bounds;
    return change;
}

void x11_backend::announce_bounds(window_handle window, const bounds_change& change, const rect& bounds, lparam size) {
    if (change.moved) send_message(window, WM_MOVE, 0, make_point_lparam(bounds.left, bounds.top));
    if (!change.resized) return;
    book_.set_client_size(window, size_of(bounds));
    send_message(window, WM_SIZE, change.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED, size);
    book_.invalidate(window, nullptr);
}

minmax_info x11_backend::ask_minmax(window_handle window) {
    const rect monitor = screen_rect(display_);
    const rect work = work_area(display_);
    minmax_info info;
    info.max_position = {work.left - monitor.left, work.top - monitor.top};
    info.max_size = {work.width(), work.height()};
    info.min_track_size = {1, 1};
    info.max_track_size = {monitor.width(), monitor.height()};
    send_message(window, WM_GETMINMAXINFO, 0, reinterpret_cast<lparam>(&info));
    return info;
}

// WM_NORMAL_HINTS: where the window is (so that the window manager keeps
// the place we chose) and the limits that WM_GETMINMAXINFO answered.
void x11_backend::apply_size_hints(window_handle window, const minmax_info& info, const rect& bounds) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr) return;
    XSizeHints* hints = XAllocSizeHints();
    if (hints == nullptr) return;
    hints->flags = PPosition | USPosition | PSize | PWinGravity;
    hints->x = bounds.left;
    hints->y = bounds.top;
    hints->width = std::max(1, bounds.width());
    hints->height = std::max(1, bounds.height());
    hints->win_gravity = StaticGravity;
    if (info.min_track_size.x > 0 && info.min_track_size.y > 0) {
        hints->flags |= PMinSize;
        hints->min_width = info.min_track_size.x;
        hints->min_height = info.min_track_size.y;
    }
    if (info.max_track_size.x > 0 && info.max_track_size.y > 0) {
        hints->flags |= PMaxSize;
        hints->max_width = std::max(info.max_track_size.x, info.min_track_size.x);
        hints->max_height = std::max(info.max_track_size.y, info.min_track_size.y);
    }
    XSetWMNormalHints(display_, w->id, hints);
    XFree(hints);
}

void x11_backend::request_activation(Window id) {
    // Source 2: on the user's behalf, which window managers honour.
    if (!send_client_message(display_, root_, id, atoms_.net_active_window,
                             SubstructureRedirectMask | SubstructureNotifyMask, 2, CurrentTime, 0)) {
        debug_output("[TamsaUpdate]: _NET_ACTIVE_WINDOW request failed");
    }
}

void x11_backend::map(window_handle window, bool activate) {
    rect bounds;
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        bounds = w->bounds;
        first = !w->mapped;
    }
    if (first) apply_size_hints(window, ask_minmax(window), bounds);
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        if (first) write_state_property(*w);
        // Mapping an iconic window also brings it back (ICCCM).
        XMapRaised(display_, w->id);
        w->mapped = true;
        w->shown = true;
        if (activate) request_activation(w->id);
        XFlush(display_);
    }
    book_.set_visible(window, true);
}

void x11_backend::iconify(window_handle window) {
    bool was_minimized = false;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        was_minimized = w->minimized;
        if (w->mapped) {
            if (XIconifyWindow(display_, w->id, screen_) == 0) debug_output("[TamsaUpdate]: XIconifyWindow failed");
        } else {
            XWMHints hints{};
            hints.flags = StateHint | InputHint;
            hints.input = True;
            hints.initial_state = IconicState;
            XSetWMHints(display_, w->id, &hints);
            XMapWindow(display_, w->id);
            w->mapped = true;
        }
        w->shown = true;
        w->minimized = true;
        XFlush(display_);
    }
    // As ShowWindow: the window hears of it at once; WM_STATE then agrees.
    if (!was_minimized) send_message(window, WM_SIZE, SIZE_MINIMIZED, 0);
    book_.set_visible(window, true);
}

// As ShowWindow(SW_MAXIMIZE): the handler answers WM_GETMINMAXINFO, whose
// placement the window takes; the window manager is told through
// _NET_WM_STATE so that it agrees (and maximises to its work area).
void x11_backend::maximize(window_handle window) {
    const minmax_info info = ask_minmax(window);
    const rect monitor = screen_rect(display_);
    int width = info.max_size.x;
    int height = info.max_size.y;
    if (info.max_track_size.x > 0) width = std::min(width, info.max_track_size.x);
    if (info.max_track_size.y > 0) height = std::min(height, info.max_track_size.y);
    const rect placement{monitor.left + info.max_position.x, monitor.top + info.max_position.y,
                         monitor.left + info.max_position.x + width, monitor.top + info.max_position.y + height};
    bool was_mapped = false;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr) return;
        if (!w->maximized) w->restore_bounds = w->bounds;
        w->maximized = true;
        w->minimized = false;
        was_mapped = w->mapped;
        if (was_mapped) {
            change_state(*w, STATE_ADD, atoms_.net_wm_state_max_vert, atoms_.net_wm_state_max_horz);
        }
    }
    apply_size_hints(window, info, placement);
    move_window(window, placement.left, placement.top, placement.width(), placement.height());
    if (!was_mapped) map(window, true);
}

void x11_backend::restore_from_maximized(window_handle window) {
    rect restore;
    {
        std::lock_guard lock(mutex_);
        x11_window* w = find(window);
        if (w == nullptr || !w->maximized) return;
        w->maximized = false;
        restore = w->restore_bounds;
        if (w->mapped) change_state(*w, STATE_REMOVE, atoms_.net_wm_state_max_vert, atoms_.net_wm_state_max_horz);
    }
    if (!restore.empty()) move_window(window, restore.left, restore.top, restore.width(), restore.height());
}

void x11_backend::show_window(window_handle window, int show_command) {
    if (!own(window)) return;
    switch (show_command) {
        case SW_HIDE: {
            {
                std::lock_guard lock(mutex_);
                x11_window* w = find(window);
                if (w == nullptr) return;
                if (w->mapped && XWithdrawWindow(display_, w->id, screen_) == 0) {
                    debug_output("[TamsaUpdate]: XWithdrawWindow failed");
                }
                w->mapped = false;
                w->shown = false;
                XFlush(display_);
            }
            book_.set_visible(window, false);
            return;
        }
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED:
        case SW_SHOWMINNOACTIVE:
        case SW_FORCEMINIMIZE:
            return iconify(window);
        case SW_MAXIMIZE:
            return maximize(window);
        case SW_SHOWNORMAL:
        case SW_RESTORE: {
            bool minimized = false;
            {
                std::lock_guard lock(mutex_);
                x11_window* w = find(window);
                minimized = w != nullptr && w->minimized;
            }
            // SW_RESTORE brings a minimised window back as it was; from the
            // maximised state, and always with SW_SHOWNORMAL, to its normal place.
            if (show_command == SW_SHOWNORMAL || !minimized) restore_from_maximized(window);
            return map(window, true);
        }
        case SW_SHOWNOACTIVATE:
            return map(window, false);
        default:
            return map(window, true);
    }
}

// The window manager moves the window with the pointer; it needs the
// pointer, so the press's implicit grab is given up first.
void x11_backend::begin_window_drag(window_handle window, point screen_point) {
    std::lock_guard lock(mutex_);
    x11_window* w = find(window);
    if (w == nullptr) return;
    XUngrabPointer(display_, CurrentTime);
    // A press handled late (the button already up) would leave the window
    // manager waiting for a release that never comes.
    Window root = 0;
    Window child = 0;
    int root_x = 0;
    int root_y = 0;
    int x = 0;
    int y = 0;
    unsigned mask = 0;
    if (XQueryPointer(display_, w->id, &root, &child, &root_x, &root_y, &x, &y, &mask) == 0 ||
        (mask & Button1Mask) == 0) {
        return;
    }
    if (!send_client_message(display_, root_, w->id, atoms_.net_wm_moveresize,
                             SubstructureRedirectMask | SubstructureNotifyMask, screen_point.x, screen_point.y,
                             MOVERESIZE_MOVE, Button1, 1)) {
        debug_output("[TamsaUpdate]: _NET_WM_MOVERESIZE request failed");
    }
    XFlush(display_);
}

}  // namespace platform::x11
