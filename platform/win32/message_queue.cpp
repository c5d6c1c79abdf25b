// The window-message system on Windows: the thread's own Win32 message queue.
// Handles of windows without a native window of their own (the off-screen
// display's) are message-only windows, so that PostMessageW, GetMessageW and
// DispatchMessageW serve every window alike.
#include "platform/message_queue.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

constexpr const wchar_t* RELAY_CLASS = L"TamsaMessageWindow";

struct window_entry {
    message_handler* handler = nullptr;
    DWORD thread = 0;
    bool message_only = false;  // made by register_window, destroyed by unregister_window
};

struct window_registry {
    std::mutex lock;
    std::unordered_map<window_handle, window_entry> windows;
};

// Never destroyed, so that threads ending during process exit still find it.
window_registry& registry() {
    static window_registry* instance = new window_registry;
    return *instance;
}

bool find_window(window_handle window, window_entry& out) {
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    const auto found = reg.windows.find(window);
    if (found == reg.windows.end()) return false;
    out = found->second;
    return true;
}

// Windows destroys a thread's windows when it ends; their handles are
// forgotten with them, so posts to them fail as on any ended thread.
class thread_windows {
public:
    thread_windows() = default;
    ~thread_windows() {
        const DWORD self = ::GetCurrentThreadId();
        window_registry& reg = registry();
        std::lock_guard<std::mutex> guard(reg.lock);
        std::erase_if(reg.windows, [self](const auto& item) { return item.second.thread == self; });
    }
    thread_windows(const thread_windows&) = delete;
    thread_windows& operator=(const thread_windows&) = delete;
};

void track_thread() {
    thread_local thread_windows tracker;
    (void)tracker;
}

LRESULT CALLBACK relay_proc(HWND hwnd, UINT id, WPARAM w, LPARAM l) {
    window_entry entry;
    if (find_window(reinterpret_cast<window_handle>(hwnd), entry) && entry.handler != nullptr) {
        return entry.handler->handle_message(reinterpret_cast<window_handle>(hwnd), id, w, l);
    }
    return ::DefWindowProcW(hwnd, id, w, l);
}

bool relay_class_registered() {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = relay_proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = RELAY_CLASS;
        return ::RegisterClassW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

message from_msg(const MSG& msg) {
    return {reinterpret_cast<window_handle>(msg.hwnd), msg.message, msg.wParam, msg.lParam};
}

// ---- event sources: each one's descriptor is a waitable kernel handle ----
// The handle must stay signalled until the source's pump has read what is
// ready (a manual-reset event, a process, a change notification): the wait
// below would consume an auto-reset event before the pump sees it.

thread_local std::vector<event_source*> t_sources;

void pump_sources() {
    const std::vector<event_source*> sources = t_sources;  // a pump may remove a source
    for (event_source* source : sources) {
        if (std::find(t_sources.begin(), t_sources.end(), source) != t_sources.end()) source->pump();
    }
}

// Waits for posted or input messages or a ready source, at most timeout_ms
// (INFINITE: no limit).
void wait_for_input(DWORD timeout_ms) {
    std::vector<HANDLE> handles;
    for (const event_source* source : t_sources) {
        handles.push_back(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(source->descriptor())));
    }
    const DWORD count = static_cast<DWORD>(std::min<std::size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS - 1));
    const DWORD woke =
        ::MsgWaitForMultipleObjectsEx(count, handles.data(), timeout_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke < WAIT_OBJECT_0 + count) pump_sources();
    // A message, a time-out or a failed wait: the caller looks at the queue
    // again and checks its deadline.
}

// The common loop of get_message and wait_message; timeout_ms -1 waits forever.
bool next_message(message& out, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    MSG msg{};
    for (;;) {
        if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            out = from_msg(msg);
            return true;
        }
        pump_sources();
        if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            out = from_msg(msg);
            return true;
        }
        DWORD wait_ms = INFINITE;
        if (timeout_ms >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            wait_ms = static_cast<DWORD>(left.count());
        }
        wait_for_input(wait_ms);
    }
}

}  // namespace

window_handle register_window(message_handler* handler) {
    if (!relay_class_registered()) return 0;
    track_thread();
    HWND hwnd = ::CreateWindowExW(0, RELAY_CLASS, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (hwnd == nullptr) return 0;
    const auto handle = reinterpret_cast<window_handle>(hwnd);
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    reg.windows[handle] = {handler, ::GetCurrentThreadId(), true};
    return handle;
}

bool register_window_handle(window_handle window, message_handler* handler) {
    if (window == 0) return false;
    track_thread();
    window_registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    return reg.windows.try_emplace(window, window_entry{handler, ::GetCurrentThreadId(), false}).second;
}

void unregister_window(window_handle window) {
    window_entry entry;
    if (!find_window(window, entry)) return;
    {
        window_registry& reg = registry();
        std::lock_guard<std::mutex> guard(reg.lock);
        reg.windows.erase(window);
    }
    // Only the owning thread may destroy a window; another thread's goes
    // with that thread.
    if (entry.message_only && entry.thread == ::GetCurrentThreadId()) {
        (void)::DestroyWindow(reinterpret_cast<HWND>(window));  // result ignored: the handle is forgotten either way
    }
}

bool is_registered_window(window_handle window) {
    window_entry entry;
    return find_window(window, entry);
}

// Our windows only, as on every system; handle 0 fails too (a thread message
// is not what callers mean), and so does a window whose thread has ended.
bool post_message(window_handle window, std::uint32_t id, wparam w, lparam l) {
    if (window == 0 || !is_registered_window(window)) return false;
    return ::PostMessageW(reinterpret_cast<HWND>(window), id, w, l) != 0;
}

// On the owning thread the handler is called at once; from another thread
// SendMessageW waits until the owner has handled it.
lresult send_message(window_handle window, std::uint32_t id, wparam w, lparam l) {
    window_entry entry;
    if (!find_window(window, entry) || entry.handler == nullptr) return 0;
    if (entry.thread == ::GetCurrentThreadId()) return entry.handler->handle_message(window, id, w, l);
    return ::SendMessageW(reinterpret_cast<HWND>(window), id, w, l);
}

void post_quit_message(int exit_code) {
    ::PostQuitMessage(exit_code);
}

bool get_message(message& out) {
    if (t_sources.empty()) {
        MSG msg{};
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) {
            // Only an invalid filter fails, and there is none; end the loop
            // rather than spin on a failing call.
            out = {0, WM_QUIT, 0, 0};
            return false;
        }
        out = from_msg(msg);
        return out.id != WM_QUIT;
    }
    next_message(out, -1);
    return out.id != WM_QUIT;
}

bool wait_message(message& out, int timeout_ms) {
    if (next_message(out, std::max(timeout_ms, 0))) return true;
    out = message{};
    return false;
}

bool peek_message(message& out) {
    MSG msg{};
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        pump_sources();
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    }
    out = from_msg(msg);
    return true;
}

// Keys become characters first (TranslateMessage), as the toolkit expects
// WM_CHAR after WM_KEYDOWN on a native window.
lresult dispatch_message(const message& msg) {
    if (msg.window == 0) return 0;
    MSG native{};
    native.hwnd = reinterpret_cast<HWND>(msg.window);
    native.message = msg.id;
    native.wParam = msg.w;
    native.lParam = msg.l;
    native.time = ::GetMessageTime();
    (void)::TranslateMessage(&native);  // result ignored: false only means "not a key"
    return ::DispatchMessageW(&native);
}

void add_event_source(event_source* source) {
    if (source == nullptr) return;
    if (std::find(t_sources.begin(), t_sources.end(), source) == t_sources.end()) t_sources.push_back(source);
}

void remove_event_source(event_source* source) {
    std::erase(t_sources, source);
}

}  // namespace platform
