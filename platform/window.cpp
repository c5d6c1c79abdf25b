// The window functions of platform/window.h, which forward to the display
// backend chosen before the first window is made, and the bookkeeping that
// every backend shares (update area, one pending WM_PAINT, disabled windows
// dropping input, capture and focus).
#include "platform/window.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/window_backend.h"

namespace platform {
namespace {

std::atomic<display_kind> g_display{display_kind::offscreen};

// The backend of a display kind, or null when it cannot be used (no X
// display to connect to).
window_backend* backend_for(display_kind kind) {
    switch (kind) {
        case display_kind::offscreen:
            return &offscreen_window_backend();
        case display_kind::x11:
            return x11_window_backend();
        case display_kind::win32:
            return win32_window_backend();
    }
    return nullptr;
}

window_backend& backend() {
    window_backend* chosen = backend_for(g_display.load());
    return chosen ? *chosen : offscreen_window_backend();
}

// The windows disabled by enable_window and not enabled since, with the
// backend that disabled them. The lock is never held across a backend call.
std::mutex g_disabled_lock;
std::vector<std::pair<window_backend*, window_handle>>& disabled_windows() {
    static auto* windows = new std::vector<std::pair<window_backend*, window_handle>>;  // outlives exit handlers
    return *windows;
}

void note_enabled(window_backend* owner, window_handle window, bool enable) {
    static std::once_flag at_exit;
    std::lock_guard guard(g_disabled_lock);
    auto& windows = disabled_windows();
    std::erase(windows, std::make_pair(owner, window));
    if (enable) return;
    windows.emplace_back(owner, window);
    std::call_once(at_exit, [] { (void)std::atexit(enable_windows_left_disabled); });
}

}  // namespace

rect union_rect(const rect& a, const rect& b) {
    if (a.empty()) return b.empty() ? rect{} : b;
    if (b.empty()) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

rect intersect_rect(const rect& a, const rect& b) {
    rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    return r.empty() ? rect{} : r;
}

// --- shared bookkeeping ---

window_bookkeeping::entry* window_bookkeeping::find(window_handle window) {
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

void window_bookkeeping::add(window_handle window, size client, bool visible) {
    std::lock_guard lock(mutex_);
    entry& e = windows_[window];
    e = entry{};
    e.client = client;
    e.visible = visible;
}

void window_bookkeeping::remove(window_handle window) {
    std::lock_guard lock(mutex_);
    windows_.erase(window);
    if (capture_ == window) capture_ = 0;
    if (focus_ == window) focus_ = 0;
}

bool window_bookkeeping::known(window_handle window) {
    std::lock_guard lock(mutex_);
    return find(window) != nullptr;
}

void window_bookkeeping::set_client_size(window_handle window, size client) {
    std::lock_guard lock(mutex_);
    if (entry* e = find(window)) {
        e->client = client;
        // Nothing outside the client area can be painted.
        e->pending_update = intersect_rect(e->pending_update, {0, 0, client.cx, client.cy});
    }
}

void window_bookkeeping::set_visible(window_handle window, bool visible) {
    bool appeared = false;
    {
        std::lock_guard lock(mutex_);
        entry* e = find(window);
        if (e == nullptr) return;
        appeared = visible && !e->visible;
        e->visible = visible;
    }
    if (appeared) invalidate(window, nullptr);
}

void window_bookkeeping::invalidate(window_handle window, const rect* area) {
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        entry* e = find(window);
        if (e == nullptr) return;
        const rect client{0, 0, e->client.cx, e->client.cy};
        const rect part = area ? intersect_rect(*area, client) : client;
        if (part.empty()) return;
        e->pending_update = union_rect(e->pending_update, part);
        post = e->visible && !e->paint_posted;
        if (post) e->paint_posted = true;
    }
    // The lock is not held while posting: the queue may belong to this thread.
    if (post && !post_message(window, WM_PAINT, 0, 0)) {
        std::lock_guard lock(mutex_);
        if (entry* e = find(window)) e->paint_posted = false;
    }
}

rect window_bookkeeping::take_update(window_handle window) {
    std::lock_guard lock(mutex_);
    entry* e = find(window);
    if (e == nullptr) return {};
    const rect taken = e->pending_update;
    e->pending_update = {};
    e->paint_posted = false;
    return taken;
}

bool window_bookkeeping::update_state(window_handle window, rect& pending, bool& paint_posted) {
    std::lock_guard lock(mutex_);
    const entry* e = find(window);
    if (e == nullptr) return false;
    pending = e->pending_update;
    paint_posted = e->paint_posted;
    return true;
}

bool window_bookkeeping::set_enabled(window_handle window, bool enable) {
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        entry* e = find(window);
        if (e == nullptr) return false;
        changed = e->enabled != enable;
        e->enabled = enable;
        // A disabled window loses the capture, as on Windows.
        if (!enable && capture_ == window) capture_ = 0;
    }
    if (changed) send_message(window, WM_ENABLE, enable ? 1 : 0, 0);
    return true;
}

bool window_bookkeeping::enabled(window_handle window) {
    std::lock_guard lock(mutex_);
    const entry* e = find(window);
    return e != nullptr && e->enabled;
}

bool window_bookkeeping::post_input(window_handle window, std::uint32_t id, wparam w, lparam l) {
    if (!enabled(window)) return false;
    return post_message(window, id, w, l);
}

void window_bookkeeping::set_capture(window_handle window) {
    std::lock_guard lock(mutex_);
    const entry* e = find(window);
    capture_ = e != nullptr && e->enabled ? window : 0;
}

void window_bookkeeping::release_capture() {
    std::lock_guard lock(mutex_);
    capture_ = 0;
}

window_handle window_bookkeeping::capture() {
    std::lock_guard lock(mutex_);
    return capture_;
}

void window_bookkeeping::set_focus(window_handle window) {
    window_handle previous = 0;
    {
        std::lock_guard lock(mutex_);
        if (window != 0 && find(window) == nullptr) return;
        previous = focus_;
        if (previous == window) return;
        focus_ = window;
    }
    if (previous != 0) send_message(previous, WM_KILLFOCUS, window, 0);
    if (window != 0) send_message(window, WM_SETFOCUS, previous, 0);
}

window_handle window_bookkeeping::focus() {
    std::lock_guard lock(mutex_);
    return focus_;
}

// --- the chosen backend ---

bool select_display(display_kind kind) {
    if (backend_for(kind) == nullptr) return false;
    g_display.store(kind);
    return true;
}

display_kind current_display() {
    return g_display.load();
}

window_handle create_window(const window_params& params, message_handler* handler) {
    return backend().create_window(params, handler);
}
void destroy_window(window_handle window) {
    backend().destroy_window(window);
}
bool is_window(window_handle window) {
    return backend().is_window(window);
}

rect window_rect(window_handle window) {
    return backend().window_rect(window);
}
rect client_rect(window_handle window) {
    return backend().client_rect(window);
}
void move_window(window_handle window, int x, int y, int width, int height) {
    backend().move_window(window, x, y, width, height);
}
void show_window(window_handle window, int show_command) {
    backend().show_window(window, show_command);
}
bool is_window_visible(window_handle window) {
    return backend().is_window_visible(window);
}
bool is_maximized(window_handle window) {
    return backend().is_maximized(window);
}
bool is_minimized(window_handle window) {
    return backend().is_minimized(window);
}
void enable_window(window_handle window, bool enable) {
    window_backend& chosen = backend();
    chosen.enable_window(window, enable);
    note_enabled(&chosen, window, enable);
}
void enable_windows_left_disabled() {
    std::vector<std::pair<window_backend*, window_handle>> windows;
    {
        std::lock_guard guard(g_disabled_lock);
        windows.swap(disabled_windows());
    }
    for (const auto& [owner, window] : windows) owner->enable_window(window, true);
}
bool is_window_enabled(window_handle window) {
    return backend().is_window_enabled(window);
}
window_handle owner_of(window_handle window) {
    return backend().owner_of(window);
}
rect monitor_rect_near(window_handle window) {
    return backend().monitor_rect_near(window);
}
rect work_area_near(window_handle window) {
    return backend().work_area_near(window);
}

void set_window_text(window_handle window, const std::wstring& text) {
    backend().set_window_text(window, text);
}
std::wstring window_text(window_handle window) {
    return backend().window_text(window);
}
std::uint32_t window_style(window_handle window) {
    return backend().window_style(window);
}
void set_window_style(window_handle window, std::uint32_t style) {
    backend().set_window_style(window, style);
}
void set_window_modal(window_handle window, bool modal) {
    backend().set_window_modal(window, modal);
}
void set_window_round_corners(window_handle window, size corner) {
    backend().set_window_round_corners(window, corner);
}

void invalidate_rect(window_handle window, const rect* area) {
    backend().invalidate_rect(window, area);
}
rect take_update_rect(window_handle window) {
    return backend().take_update_rect(window);
}
void present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride, const rect& area) {
    backend().present(window, pixels, width, height, stride, area);
}

void set_capture(window_handle window) {
    backend().set_capture(window);
}
void release_capture() {
    backend().release_capture();
}
window_handle get_capture() {
    return backend().get_capture();
}
void set_focus(window_handle window) {
    backend().set_focus(window);
}
window_handle get_focus() {
    return backend().get_focus();
}
void set_cursor(cursor_kind cursor) {
    backend().set_cursor(cursor);
}
cursor_kind current_cursor() {
    return backend().current_cursor();
}

void begin_window_drag(window_handle window, point screen_point) {
    backend().begin_window_drag(window, screen_point);
}
int system_message_box(window_handle owner, const std::wstring& text, const std::wstring& caption, std::uint32_t type) {
    return backend().system_message_box(owner, text, caption, type);
}
void minimize_window(window_handle window) {
    backend().minimize_window(window);
}

std::uint64_t tick_count() {
    static const auto start = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace platform
