// Another program's window on Windows: its HWND, reached with PostMessageW,
// IsWindow, ShowWindow, BringWindowToTop and SetForegroundWindow.
#include "platform/foreign_window.h"

#include <windows.h>

namespace platform {

bool foreign_window_exists(window_handle window) {
    return window != 0 && ::IsWindow(reinterpret_cast<HWND>(window)) != 0;
}

bool post_foreign_message(window_handle window, std::uint32_t id, wparam w, lparam l) {
    if (window == 0) return false;
    return ::PostMessageW(reinterpret_cast<HWND>(window), id, w, l) != 0;
}

std::int32_t foreign_window_process(window_handle window) {
    if (window == 0) return 0;
    DWORD pid = 0;
    if (::GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &pid) == 0) return 0;
    return pid <= 0x7FFFFFFF ? static_cast<std::int32_t>(pid) : 0;
}

// Results ignored: each step is a request the system may refuse, and the
// next one still helps.
void show_and_raise_foreign_window(window_handle window) {
    if (window == 0) return;
    HWND hwnd = reinterpret_cast<HWND>(window);
    (void)::ShowWindow(hwnd, SW_SHOWNORMAL);
    (void)::BringWindowToTop(hwnd);
    (void)::SetForegroundWindow(hwnd);
}

}  // namespace platform
