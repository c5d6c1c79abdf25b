// Our windows as real Win32 windows: a class per window class name, one
// window procedure that hands every message to the window's handler and
// keeps the system's defaults where the toolkit relies on them, and the
// toolkit's surface presented through a DIB section.
// The platform's own names first: windows.h then defines the same message
// and style names as macros of the same values.
// clang-format off
#include "platform/message_queue.h"
#include "platform/window_backend.h"
#include <windows.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <string>

namespace platform {
namespace {

// What the backend keeps of one window besides what Windows keeps.
struct win32_window {
    message_handler* handler = nullptr;
    const window_params* creating = nullptr;  // during CreateWindowExW only
    bool* bound = nullptr;                    // set once WM_NCCREATE has bound it, during CreateWindowExW
    std::uint32_t style = 0;                  // as the caller gave it
    bool modal = false;
    HBITMAP dib = nullptr;  // the presented surface, client-sized
    void* dib_bits = nullptr;
    int dib_width = 0;
    int dib_height = 0;
};

HWND as_hwnd(window_handle window) {
    return reinterpret_cast<HWND>(window);
}

window_handle as_handle(HWND hwnd) {
    return reinterpret_cast<window_handle>(hwnd);
}

rect from_rect(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

win32_window* record_of(HWND hwnd) {
    return reinterpret_cast<win32_window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// Our windows never have a frame or caption of the system's: the skin draws
// its own. The native window is a popup that keeps only the bits that
// change how the system treats it (taskbar minimise, system menu).
DWORD native_style(std::uint32_t style) {
    return WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | (style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
}

void free_surface(win32_window& w) {
    if (w.dib != nullptr) ::DeleteObject(w.dib);  // result ignored: nothing to do on failure
    w.dib = nullptr;
    w.dib_bits = nullptr;
    w.dib_width = w.dib_height = 0;
}

// A top-down 32-bit DIB section of the client's size, made on first use and
// again when the size changes.
bool fit_surface(win32_window& w, int width, int height) {
    if (w.dib != nullptr && w.dib_width == width && w.dib_height == height) return true;
    free_surface(w);
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows, as the toolkit's surface
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    w.dib = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &w.dib_bits, nullptr, 0);
    if (w.dib == nullptr || w.dib_bits == nullptr) {
        free_surface(w);
        return false;
    }
    w.dib_width = width;
    w.dib_height = height;
    return true;
}

// ---- the window procedure ----

bool is_client_input(UINT id) {
    return (id >= WM_MOUSEFIRST && id <= WM_MOUSELAST) || id == WM_MOUSELEAVE || id == WM_KEYDOWN || id == WM_KEYUP ||
           id == WM_CHAR || id >= WM_USER;
}

// The creation messages carry the caller's window_params, as on every
// backend; the window is bound to its handler on the first of them.
LRESULT on_creation(HWND hwnd, UINT id, WPARAM w, LPARAM l) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
    auto* record = static_cast<win32_window*>(create->lpCreateParams);
    if (id == WM_NCCREATE) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
        *record->bound = true;
        (void)register_window_handle(as_handle(hwnd), record->handler);  // a new HWND is never registered yet
    }
    (void)record->handler->handle_message(as_handle(hwnd), id, w, reinterpret_cast<lparam>(record->creating));
    // Creation goes on whatever the handler answered, as on the other
    // backends; the system's defaults set the title and the frame.
    return ::DefWindowProcW(hwnd, id, w, l);
}

LRESULT on_final(HWND hwnd, win32_window* record, WPARAM w, LPARAM l) {
    (void)record->handler->handle_message(as_handle(hwnd), WM_NCDESTROY, w, l);
    unregister_window(as_handle(hwnd));
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    free_surface(*record);
    delete record;
    return ::DefWindowProcW(hwnd, WM_NCDESTROY, w, l);
}

cursor_kind g_cursor = cursor_kind::arrow;

void apply_cursor() {
    ::SetCursor(::LoadCursorW(nullptr, g_cursor == cursor_kind::hand ? IDC_HAND : IDC_ARROW));
}

LRESULT dispatch_to(HWND hwnd, win32_window* record, UINT id, WPARAM w, LPARAM l) {
    message_handler* handler = record->handler;
    const window_handle window = as_handle(hwnd);
    switch (id) {
        case WM_NCCALCSIZE:
            return 0;  // the client area is the whole window
        case WM_NCPAINT:
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the toolkit paints every pixel
        case WM_PAINT: {
            const lresult result = handler->handle_message(window, id, w, l);
            // A handler that did not take the update area must not be asked forever.
            ::ValidateRect(hwnd, nullptr);
            return result;
        }
        case WM_CLOSE:
            return handler->handle_message(window, id, w, l);  // never the default's DestroyWindow
        case WM_GETMINMAXINFO:
            // MINMAXINFO and minmax_info are five points in the same order.
            (void)::DefWindowProcW(hwnd, id, w, l);
            return handler->handle_message(window, id, w, l);
        case WM_SETCURSOR:
            // The client area shows the toolkit's cursor; the system keeps its
            // own elsewhere (a caption band answered as HTCAPTION).
            if (handler->handle_message(window, id, w, l) != 0) return TRUE;
            if (LOWORD(l) != HTCLIENT) return ::DefWindowProcW(hwnd, id, w, l);
            apply_cursor();
            return TRUE;
        case WM_NCHITTEST: {
            const lresult hit = handler->handle_message(window, id, w, l);
            return hit != HTNOWHERE ? hit : ::DefWindowProcW(hwnd, id, w, l);
        }
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONDBLCLK:
            // The window's default procedure already did the caption's part
            // (begin_window_drag runs the system's move once; a double-click
            // maximises or restores through WM_SYSCOMMAND). The system's
            // default again would start a second move, or undo the maximise.
            return handler->handle_message(window, id, w, l);
        case WM_SYSCOMMAND:
            if ((w & 0xFFF0) == SC_CLOSE) return handler->handle_message(window, id, w, l);
            (void)handler->handle_message(window, id, w, l);
            return ::DefWindowProcW(hwnd, id, w, l);
        default:
            break;
    }
    if (is_client_input(id)) return handler->handle_message(window, id, w, l);
    // Everything else is news to the handler and still needs the system's
    // handling (sizing, activation, the system keys, moving by the caption).
    (void)handler->handle_message(window, id, w, l);
    return ::DefWindowProcW(hwnd, id, w, l);
}

LRESULT CALLBACK display_proc(HWND hwnd, UINT id, WPARAM w, LPARAM l) {
    if (id == WM_NCCREATE || id == WM_CREATE) return on_creation(hwnd, id, w, l);
    win32_window* record = record_of(hwnd);
    if (record == nullptr) return ::DefWindowProcW(hwnd, id, w, l);
    if (id == WM_NCDESTROY) return on_final(hwnd, record, w, l);
    return dispatch_to(hwnd, record, id, w, l);
}

bool register_class(const std::wstring& name, std::uint32_t class_style) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = class_style;
    wc.lpfnWndProc = display_proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name.c_str();
    // A second window of a class reuses it.
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// ---- the backend ----

class win32_backend final : public window_backend {
public:
    window_handle create_window(const window_params& params, message_handler* handler) override {
        if (handler == nullptr || params.class_name.empty()) return 0;
        if (!register_class(params.class_name, params.class_style)) return 0;
        bool bound = false;
        auto* record = new win32_window{handler, &params, &bound, params.style};
        // The window is created as asked: its own style, and the system's
        // default place and size where the caller left them to the system.
        const rect& b = params.bounds;
        const int x = params.default_position ? CW_USEDEFAULT : b.left;
        const int y = params.default_position ? CW_USEDEFAULT : b.top;
        const int width = params.default_size ? CW_USEDEFAULT : b.width();
        const int height = params.default_size ? CW_USEDEFAULT : b.height();
        HWND hwnd =
            ::CreateWindowExW(params.ex_style, params.class_name.c_str(), params.title.c_str(), params.style, x, y,
                              width, height, as_hwnd(params.owner), nullptr, ::GetModuleHandleW(nullptr), record);
        if (hwnd == nullptr) {
            // A bound record went with WM_NCDESTROY; an unbound one is ours.
            if (!bound) delete record;
            return 0;
        }
        record->creating = nullptr;
        record->bound = nullptr;
        return as_handle(hwnd);
    }

    void destroy_window(window_handle window) override {
        if (record_of(as_hwnd(window)) != nullptr) (void)::DestroyWindow(as_hwnd(window));
    }
    bool is_window(window_handle window) override { return window != 0 && ::IsWindow(as_hwnd(window)) != 0; }

    rect window_rect(window_handle window) override {
        RECT r{};
        return ::GetWindowRect(as_hwnd(window), &r) ? from_rect(r) : rect{};
    }
    rect client_rect(window_handle window) override {
        RECT r{};
        return ::GetClientRect(as_hwnd(window), &r) ? from_rect(r) : rect{};
    }
    void move_window(window_handle window, int x, int y, int width, int height) override {
        (void)::MoveWindow(as_hwnd(window), x, y, std::max(0, width), std::max(0, height), TRUE);
    }
    void show_window(window_handle window, int show_command) override {
        (void)::ShowWindow(as_hwnd(window), show_command);  // the result is the previous visibility
    }
    bool is_window_visible(window_handle window) override { return ::IsWindowVisible(as_hwnd(window)) != 0; }
    bool is_maximized(window_handle window) override { return ::IsZoomed(as_hwnd(window)) != 0; }
    bool is_minimized(window_handle window) override { return ::IsIconic(as_hwnd(window)) != 0; }
    void enable_window(window_handle window, bool enable) override {
        (void)::EnableWindow(as_hwnd(window), enable ? TRUE : FALSE);  // the result is the previous state
    }
    bool is_window_enabled(window_handle window) override { return ::IsWindowEnabled(as_hwnd(window)) != 0; }
    window_handle owner_of(window_handle window) override { return as_handle(::GetWindow(as_hwnd(window), GW_OWNER)); }
    rect monitor_rect_near(window_handle window) override { return monitor_info(window, false); }
    rect work_area_near(window_handle window) override { return monitor_info(window, true); }

    void set_window_text(window_handle window, const std::wstring& text) override {
        (void)::SetWindowTextW(as_hwnd(window), text.c_str());
    }
    std::wstring window_text(window_handle window) override {
        std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(as_hwnd(window))) + 1, L'\0');
        text.resize(
            static_cast<std::size_t>(::GetWindowTextW(as_hwnd(window), text.data(), static_cast<int>(text.size()))));
        return text;
    }
    std::uint32_t window_style(window_handle window) override {
        const win32_window* record = record_of(as_hwnd(window));
        return record != nullptr ? record->style
                                 : static_cast<std::uint32_t>(::GetWindowLongW(as_hwnd(window), GWL_STYLE));
    }
    void set_window_style(window_handle window, std::uint32_t style) override {
        win32_window* record = record_of(as_hwnd(window));
        if (record == nullptr) return;
        record->style = style;
        const LONG visible =
            ::GetWindowLongW(as_hwnd(window), GWL_STYLE) & (WS_VISIBLE | WS_DISABLED | WS_MINIMIZE | WS_MAXIMIZE);
        (void)::SetWindowLongW(as_hwnd(window), GWL_STYLE, static_cast<LONG>(native_style(style)) | visible);
        (void)::SetWindowPos(as_hwnd(window), nullptr, 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
    // Windows has no modal mark: a modal window is one whose owner is
    // disabled, which the modal loop does. The mark is kept for reading back.
    void set_window_modal(window_handle window, bool modal) override {
        if (win32_window* record = record_of(as_hwnd(window))) record->modal = modal;
    }
    void set_window_round_corners(window_handle window, size corner) override {
        HWND hwnd = as_hwnd(window);
        HRGN region = nullptr;
        if (corner.cx > 0 && corner.cy > 0) {
            RECT r{};
            if (!::GetWindowRect(hwnd, &r)) return;
            region = ::CreateRoundRectRgn(0, 0, r.right - r.left + 1, r.bottom - r.top + 1, corner.cx, corner.cy);
            if (region == nullptr) return;
        }
        // The system owns the region from here on, also when the call fails.
        (void)::SetWindowRgn(hwnd, region, TRUE);
    }

    void invalidate_rect(window_handle window, const rect* area) override {
        if (area == nullptr) {
            (void)::InvalidateRect(as_hwnd(window), nullptr, FALSE);
            return;
        }
        const RECT r{area->left, area->top, area->right, area->bottom};
        (void)::InvalidateRect(as_hwnd(window), &r, FALSE);
    }
    rect take_update_rect(window_handle window) override {
        RECT r{};
        if (!::GetUpdateRect(as_hwnd(window), &r, FALSE)) return {};
        (void)::ValidateRect(as_hwnd(window), nullptr);
        return from_rect(r);
    }
    void present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
                 const rect& area) override;

    void set_capture(window_handle window) override { (void)::SetCapture(as_hwnd(window)); }
    void release_capture() override { (void)::ReleaseCapture(); }
    window_handle get_capture() override { return as_handle(::GetCapture()); }
    void set_focus(window_handle window) override { (void)::SetFocus(as_hwnd(window)); }
    window_handle get_focus() override { return as_handle(::GetFocus()); }
    void set_cursor(cursor_kind cursor) override {
        g_cursor = cursor;
        apply_cursor();
    }
    cursor_kind current_cursor() override { return g_cursor; }

    // The system's own caption handling of a press, run once: its move loop.
    // It goes straight to the default procedure; sent to the window, the
    // press would reach the window's procedure again, which called this.
    // The move starts only once the pointer has left the drag rectangle with
    // the button held: a window manager's move (Wine hands it to one) would
    // otherwise take the second press of a double-click.
    void begin_window_drag(window_handle window, point screen_point) override {
        HWND hwnd = as_hwnd(window);
        (void)::ReleaseCapture();
        if (!::DragDetect(hwnd, POINT{screen_point.x, screen_point.y})) return;  // a click
        POINT now{};
        if (!::GetCursorPos(&now)) now = POINT{screen_point.x, screen_point.y};
        (void)::DefWindowProcW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(now.x, now.y));
    }
    void minimize_window(window_handle window) override { (void)::ShowWindow(as_hwnd(window), SW_MINIMIZE); }
    int system_message_box(window_handle owner, const std::wstring& text, const std::wstring& caption,
                           std::uint32_t type) override {
        return ::MessageBoxW(as_hwnd(owner), text.c_str(), caption.c_str(), type);
    }

private:
    static rect monitor_info(window_handle window, bool work) {
        HMONITOR monitor = ::MonitorFromWindow(as_hwnd(window), MONITOR_DEFAULTTONEAREST);
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (monitor == nullptr || !::GetMonitorInfoW(monitor, &info)) return {};
        return from_rect(work ? info.rcWork : info.rcMonitor);
    }
};

// The area is clipped to the image and the client; its rows go into the DIB
// section and from there onto the window.
void win32_backend::present(window_handle window, const std::uint32_t* pixels, int width, int height, int stride,
                            const rect& area) {
    HWND hwnd = as_hwnd(window);
    win32_window* record = record_of(hwnd);
    if (record == nullptr || pixels == nullptr) return;
    const rect client = client_rect(window);
    const rect part = intersect_rect(intersect_rect(area, {0, 0, width, height}), client);
    if (part.empty() || !fit_surface(*record, client.width(), client.height())) return;
    auto* target = static_cast<std::uint32_t*>(record->dib_bits);
    const auto* source = reinterpret_cast<const std::uint8_t*>(pixels);
    for (int y = part.top; y < part.bottom; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(source + static_cast<std::ptrdiff_t>(y) * stride);
        std::memcpy(target + static_cast<std::ptrdiff_t>(y) * record->dib_width + part.left, row + part.left,
                    static_cast<std::size_t>(part.width()) * sizeof(std::uint32_t));
    }
    ::GdiFlush();  // the DIB's bits are read by GDI below
    HDC window_dc = ::GetDC(hwnd);
    if (window_dc == nullptr) return;
    HDC memory_dc = ::CreateCompatibleDC(window_dc);
    if (memory_dc != nullptr) {
        HGDIOBJ previous = ::SelectObject(memory_dc, record->dib);
        (void)::BitBlt(window_dc, part.left, part.top, part.width(), part.height(), memory_dc, part.left, part.top,
                       SRCCOPY);
        ::SelectObject(memory_dc, previous);
        ::DeleteDC(memory_dc);
    }
    ::ReleaseDC(hwnd, window_dc);
}

}  // namespace

window_backend* win32_window_backend() {
    static win32_backend backend;
    return &backend;
}

}  // namespace platform
