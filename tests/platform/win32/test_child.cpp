// Helper process for the Win32 platform tests.
//   test_child sleep <ms>         sleeps, then exits with 0
//   test_child forever            prints "ready" and sleeps until killed
//   test_child hold <name>        takes the single-instance marker, prints the
//                                 result code, then sleeps until killed
//   test_child mark <path>        writes "ran" to path and exits with 0
//   test_child window <msg> obey|ignore
//                                 makes a top-level window, prints its handle
//                                 in decimal and runs its message loop; on
//                                 <msg> it quits with exit code 7 (obey) or
//                                 does nothing
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/single_instance.h"
#include "platform/text.h"

namespace {

// The exit code of a product that quit on its message (a terminated one
// ends with 0).
constexpr int QUIT_EXIT_CODE = 7;
UINT g_quit_message = 0;
bool g_obey = false;

[[noreturn]] void sleep_forever() {
    for (;;) ::Sleep(1000);
}

void print_line(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT id, WPARAM w, LPARAM l) {
    if (id == g_quit_message && g_obey) {
        ::PostQuitMessage(QUIT_EXIT_CODE);
        return 0;
    }
    return ::DefWindowProcW(hwnd, id, w, l);
}

int run_window(UINT message, bool obey) {
    g_quit_message = message;
    g_obey = obey;
    WNDCLASSW wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TamsaTestProduct";
    if (::RegisterClassW(&wc) == 0) return 3;
    HWND hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"product", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    if (hwnd == nullptr) return 4;
    print_line(std::to_string(reinterpret_cast<std::uintptr_t>(hwnd)));
    MSG msg{};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return static_cast<int>(msg.wParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        ::Sleep(static_cast<DWORD>(std::atoi(argv[2])));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "mark") == 0) {
        std::FILE* mark = std::fopen(argv[2], "wb");
        if (mark == nullptr) return 1;
        std::fputs("ran", mark);
        return std::fclose(mark) == 0 ? 0 : 1;
    }
    if (argc >= 2 && std::strcmp(argv[1], "forever") == 0) {
        print_line("ready");
        sleep_forever();
    }
    if (argc >= 3 && std::strcmp(argv[1], "hold") == 0) {
        platform::single_instance marker(platform::utf8_to_wide(argv[2]));
        print_line(std::to_string(static_cast<int>(marker.create_result())));
        sleep_forever();
    }
    if (argc >= 4 && std::strcmp(argv[1], "window") == 0) {
        return run_window(static_cast<UINT>(std::atoi(argv[2])), std::strcmp(argv[3], "obey") == 0);
    }
    std::fprintf(stderr, "usage: test_child sleep <ms> | forever | hold <name> | window <msg> obey|ignore\n");
    return 2;
}
