// sample_product on Windows: the product that starts TamsaUpdate, the way a
// product team integrates it on Windows. It opens its own top-level window,
// registers its quit message, starts the updater with CreateProcessW (its
// HWND in decimal as -hwnd), honours the quit message, greys its window
// while the updater has it disabled (EnableWindow), and writes what the
// updater does to its window (the quit message, WM_ENABLE, activation and
// showing) as one line each to a record file. Options: sample_product_common.h;
// without --quit-id the quit message is the registered one.
// windows.h first: shellapi.h builds on its types.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sample_product_common.h"

namespace {

using sample_product::options;
using sample_product::to_wide;

// Path components end at '\' or '/' here.
const std::string SEPARATORS = "\\/";
constexpr wchar_t WINDOW_CLASS[] = L"TamsaSampleProduct";
constexpr wchar_t QUIT_MESSAGE_NAME[] = L"TamsaSampleProduct.Quit";
constexpr COLORREF ENABLED_BACKGROUND = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF DISABLED_BACKGROUND = RGB(0xA0, 0xA0, 0xA0);
// A band with the product's name along the top, so that the window reads as
// the product's even where no window manager draws a caption.
constexpr COLORREF BAND_COLOUR = RGB(0x2B, 0x57, 0x9A);
constexpr int BAND_HEIGHT = 32;

std::string to_utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr) != length)
        return {};
    return text;
}

// The program's arguments after its own name, in UTF-8.
std::vector<std::string> arguments() {
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    if (words == nullptr) return args;
    for (int i = 1; i < count; ++i) args.push_back(to_utf8(words[i]));
    (void)::LocalFree(words);  // nothing to do when freeing fails
    return args;
}

std::string self_path() {
    std::wstring buffer(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return {};
    buffer.resize(length);
    return to_utf8(buffer);
}

// Milliseconds since 1970 by the system clock: on the host of a Wine run
// the same clock that `date +%s%3N` reads, so a check there can measure
// how long the updater waits before it terminates the product.
long long unix_time_ms() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr std::uint64_t EPOCH_OFFSET = 116444736000000000ULL;  // 1601 to 1970 in 100 ns
    return static_cast<long long>((ticks - EPOCH_OFFSET) / 10000);
}

// The updater's command line from its argument list: the program's path in
// double quotes, then the switches, where a value that holds blanks is put
// in double quotes after its "=" (the way the updater reads it). A double
// quote inside a word cannot be carried: false.
bool command_line(const std::vector<std::string>& args, std::wstring& line) {
    line.clear();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.find('"') != std::string::npos) return false;
        if (i == 0) {
            line = L"\"" + to_wide(word) + L"\"";
            continue;
        }
        line += L" ";
        const std::size_t separator = word.find('=');
        if (word.find(' ') == std::string::npos || separator == std::string::npos) {
            line += to_wide(word);
        } else {
            line += to_wide(word.substr(0, separator + 1)) + L"\"" + to_wide(word.substr(separator + 1)) + L"\"";
        }
    }
    return true;
}

void fill(HDC dc, const RECT& area, COLORREF colour) {
    HBRUSH brush = ::CreateSolidBrush(colour);
    if (brush == nullptr) return;
    (void)::FillRect(dc, &area, brush);  // a failed fill leaves the old pixels
    (void)::DeleteObject(brush);
}

void text_out(HDC dc, int x, int y, const std::string& line) {
    const std::wstring wide = to_wide(line);
    (void)::TextOutW(dc, x, y, wide.c_str(), static_cast<int>(wide.size()));  // nothing to do on failure
}

class product {
public:
    explicit product(options opts) : opts_(std::move(opts)), record_(opts_.record) {}
    product(const product&) = delete;
    product& operator=(const product&) = delete;
    ~product() {
        if (updater_ != nullptr) (void)::CloseHandle(updater_);  // nothing to do when closing fails
    }

    int run() {
        if (!opts_.quit_id_given) {
            const UINT registered = ::RegisterWindowMessageW(QUIT_MESSAGE_NAME);
            if (registered == 0) {
                std::fprintf(stderr, "sample_product: RegisterWindowMessageW failed (%lu)\n", ::GetLastError());
                return 1;
            }
            opts_.quit_id = static_cast<long>(registered);
        }
        if (opts_.window && !open_window()) return 1;
        if (opts_.start_updater && !start_updater()) record("updater not started");
        return opts_.window ? loop() : wait_for_updater();
    }

private:
    static LRESULT CALLBACK window_proc(HWND hwnd, UINT id, WPARAM w, LPARAM l) {
        if (id == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
            // The result is the previous value (none yet), not a success.
            (void)::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<product*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self == nullptr || self->window_ == nullptr) return ::DefWindowProcW(hwnd, id, w, l);
        return self->on_message(id, w, l);
    }

    bool open_window() {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = window_proc;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = WINDOW_CLASS;
        if (::RegisterClassExW(&wc) == 0) {
            std::fprintf(stderr, "sample_product: RegisterClassExW failed (%lu)\n", ::GetLastError());
            return false;
        }
        const std::wstring title = to_wide("Sample product " + opts_.version);
        // Large enough that the updater's windows, centred over it, leave
        // the product visible around them.
        HWND hwnd = ::CreateWindowExW(0, WINDOW_CLASS, title.c_str(), WS_OVERLAPPEDWINDOW, 100, 100, 720, 440, nullptr,
                                      nullptr, instance, this);
        if (hwnd == nullptr) {
            std::fprintf(stderr, "sample_product: CreateWindowExW failed (%lu)\n", ::GetLastError());
            return false;
        }
        window_ = hwnd;
        (void)::ShowWindow(hwnd, SW_SHOW);  // the result is the previous visibility
        (void)::UpdateWindow(hwnd);         // a failed first paint is followed by the next WM_PAINT
        std::printf("window %lu\n", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(hwnd)));
        std::printf("quit message %ld\n", opts_.quit_id);
        std::fflush(stdout);
        return true;
    }

    bool start_updater() {
        const std::string self = self_path();
        const std::string updater =
            opts_.updater.empty() ? sample_product::dir_of(self, SEPARATORS) + "\\TamsaUpdate.exe" : opts_.updater;
        const std::string window_id = std::to_string(reinterpret_cast<std::uintptr_t>(window_));
        std::wstring line;
        if (!command_line(
                sample_product::updater_arguments(opts_, updater, window_id, sample_product::base_of(self, SEPARATORS)),
                line)) {
            std::fprintf(stderr, "sample_product: a double quote in the updater's arguments\n");
            return false;
        }
        // The updater writes its log lines to the standard error it is
        // given: ours, so that they can be read beside the product's own.
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION started{};
        const std::wstring program = to_wide(updater);
        if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &started)) {
            std::fprintf(stderr, "sample_product: CreateProcessW of %s failed (%lu)\n", updater.c_str(),
                         ::GetLastError());
            return false;
        }
        (void)::CloseHandle(started.hThread);  // the thread handle is not needed
        updater_ = started.hProcess;
        record("updater started " + std::to_string(started.dwProcessId));
        return true;
    }

    // Notes the updater's end and its exit code.
    void note_updater_end() {
        DWORD code = 0;
        const bool known = ::GetExitCodeProcess(updater_, &code) != 0;
        (void)::CloseHandle(updater_);  // nothing to do when closing fails
        updater_ = nullptr;
        record(known ? "updater exited " + std::to_string(code) : std::string("updater exited, code unknown"));
    }

    int wait_for_updater() {
        if (updater_ != nullptr && ::WaitForSingleObject(updater_, INFINITE) == WAIT_OBJECT_0) note_updater_end();
        return 0;
    }

    void record(const std::string& line) {
        record_.add(line);
        if (window_ != nullptr) (void)::InvalidateRect(window_, nullptr, TRUE);  // fails only for a gone window
    }

    void record_message(const char* kind, UINT id, WPARAM w, LPARAM l) {
        record(sample_product::message_line(kind, id, static_cast<long long>(w), static_cast<long long>(l)));
    }

    LRESULT on_message(UINT id, WPARAM w, LPARAM l) {
        if (id == static_cast<UINT>(opts_.quit_id)) {
            record_message("quit", id, w, l);
            on_quit();
            return 0;
        }
        switch (id) {
            case WM_ENABLE:
                record_message("WM_ENABLE", id, w, l);
                enabled_ = w != 0;
                (void)::InvalidateRect(window_, nullptr, TRUE);
                return 0;
            case WM_ACTIVATE:
                record_message("WM_ACTIVATE", id, w, l);
                break;
            case WM_SHOWWINDOW:
                record_message("WM_SHOWWINDOW", id, w, l);
                break;
            case WM_LBUTTONDOWN:
            case WM_KEYDOWN:
                // Windows delivers no input to a disabled window; the check
                // stays so that a fault there would show in the record.
                record(enabled_ ? "input accepted" : "input ignored");
                return 0;
            case WM_PAINT:
                paint();
                return 0;
            case WM_DESTROY:
                ::PostQuitMessage(0);
                return 0;
            default:
                break;
        }
        return ::DefWindowProcW(window_, id, w, l);
    }

    void on_quit() {
        if (!opts_.ignore_quit) {
            record("quit");
            (void)::DestroyWindow(window_);  // WM_DESTROY ends the loop
            return;
        }
        record("quit ignored at " + std::to_string(unix_time_ms()));
    }

    void paint() {
        PAINTSTRUCT ps{};
        HDC dc = ::BeginPaint(window_, &ps);
        if (dc == nullptr) return;
        RECT area{};
        (void)::GetClientRect(window_, &area);  // an empty rectangle paints nothing
        // Greyed while the updater has the window disabled.
        fill(dc, area, enabled_ ? ENABLED_BACKGROUND : DISABLED_BACKGROUND);
        RECT band = area;
        band.bottom = band.top + BAND_HEIGHT;
        fill(dc, band, BAND_COLOUR);
        (void)::SetBkMode(dc, TRANSPARENT);
        (void)::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
        (void)::SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
        text_out(dc, 12, 9, "Sample product " + opts_.version);
        (void)::SetTextColor(dc, RGB(0, 0, 0));
        int y = BAND_HEIGHT + 10;
        text_out(dc, 12, y, enabled_ ? "enabled" : "disabled by the updater");
        y += 24;
        for (const std::string& line : record_.recent()) {
            text_out(dc, 12, y, line);
            y += 16;
        }
        (void)::EndPaint(window_, &ps);
    }

    // Runs the window's messages and notes the updater's end, until the
    // window is destroyed.
    int loop() {
        for (;;) {
            const DWORD handles = updater_ != nullptr ? 1 : 0;
            const DWORD woken = ::MsgWaitForMultipleObjects(handles, &updater_, FALSE, INFINITE, QS_ALLINPUT);
            if (woken == WAIT_FAILED) {
                std::fprintf(stderr, "sample_product: MsgWaitForMultipleObjects failed (%lu)\n", ::GetLastError());
                return 1;
            }
            if (handles == 1 && woken == WAIT_OBJECT_0) note_updater_end();
            MSG msg{};
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
                (void)::TranslateMessage(&msg);
                (void)::DispatchMessageW(&msg);
            }
        }
    }

    options opts_;
    sample_product::record_log record_;
    HWND window_ = nullptr;
    HANDLE updater_ = nullptr;
    bool enabled_ = true;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    options opts;
    if (!sample_product::parse(arguments(), opts)) return 2;
    return product(opts).run();
}
