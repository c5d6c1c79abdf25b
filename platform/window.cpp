// The window functions of platform/window.h: each forwards to the display
// backend chosen before the first window is made.
#include "platform/window.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/window_backend.h"

namespace platform {
namespace {

std::atomic<display_kind> g_display{display_kind::offscreen};

// The backend of a display kind, or null when this build has none for it.
// The X11 display of our own windows is not part of this build yet.
window_backend* backend_for(display_kind kind) {
    switch (kind) {
        case display_kind::offscreen:
            return &offscreen_window_backend();
        case display_kind::x11:
            return nullptr;
        case display_kind::win32:
            return win32_window_backend();
    }
    return nullptr;
}

window_backend& backend() {
    window_backend* chosen = backend_for(g_display.load());
    return chosen ? *chosen : offscreen_window_backend();
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
    backend().enable_window(window, enable);
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
void minimize_window(window_handle window) {
    backend().minimize_window(window);
}

std::uint64_t tick_count() {
    static const auto start = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace platform
