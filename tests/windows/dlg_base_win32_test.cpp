// The window base as a real Win32 window (under Wine on a private X display),
// through the toolkit's native window and the window base as the run uses
// them: creation with the requested style at the system's default place, the
// caption's press and double-click through the system's own handling, and the
// system's message box with its owner, caption, text, buttons and answers.
// The platform's names first; windows.h then defines the same names as macros.
// clang-format off
#include "platform/message_queue.h"
#include "platform/text.h"
#include "platform/window.h"
#include "skin/resource_table.h"
#include "toolkit/message_box.h"
#include "toolkit/paint_manager.h"
#include "windows/dlg_base.h"
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

// The run's hint window style (WS_OVERLAPPEDWINDOW | WS_VISIBLE).
constexpr std::uint32_t RUN_STYLE = 0x10CF0000;

// The hint window's layout from the skin archive in the program's resources,
// with what its procedure sees recorded.
class hint_like_window final : public dlg_base {
public:
    std::wstring window_class_name() const override { return L"TamsaTestSkinnedWnd"; }
    std::wstring skin_file() const override { return L"HintUpdateWnd.xml"; }
    std::wstring skin_folder() const override { return L""; }
    skin_source skin_source_type() const override { return skin_source::zip_resource; }
    string_or_id resource_id() const override { return string_or_id::from_id(200); }

    platform::lresult handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) override {
        if (id == WM_CREATE) rect_at_creation = platform::window_rect(window_);
        if (id == WM_NCLBUTTONDOWN) ++caption_presses;
        if (id == WM_SYSCOMMAND && (w & 0xFFF0) == SC_MOVE) ++move_commands;
        return dlg_base::handle_message(id, w, l);
    }

    platform::rect rect_at_creation;
    int caption_presses = 0;
    int move_commands = 0;
};

class dlg_base_win32 : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::select_display(platform::display_kind::win32));
        skinui::paint_manager::set_resource_module(&find_resource);
    }
    void TearDown() override {
        for (platform::window_handle w : made_) platform::destroy_window(w);
        drain();
        platform::select_display(platform::display_kind::offscreen);
    }
    HWND make(hint_like_window& window) {
        const platform::window_handle h = window.create(0, L"\u81EA\u52A8\u66F4\u65B0", RUN_STYLE, 0);
        if (h != 0) made_.push_back(h);
        return reinterpret_cast<HWND>(h);
    }
    static void drain() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    static RECT rect_of(HWND hwnd) {
        RECT r{};
        ::GetWindowRect(hwnd, &r);
        return r;
    }
    static RECT work_area_of(HWND hwnd) {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info);
        return info.rcWork;
    }
    std::vector<platform::window_handle> made_;
};

thread_local DWORD t_created_style = 0;

// The style of the first window created on the thread while hooked.
LRESULT CALLBACK record_creation(int code, WPARAM w, LPARAM l) {
    if (code == HCBT_CREATEWND && t_created_style == 0) {
        t_created_style = static_cast<DWORD>(reinterpret_cast<CBT_CREATEWNDW*>(l)->lpcs->style);
    }
    return ::CallNextHookEx(nullptr, code, w, l);
}

// The first visible system dialog among the thread's windows.
BOOL CALLBACK find_dialog(HWND candidate, LPARAM found) {
    wchar_t name[64] = {};
    ::GetClassNameW(candidate, name, 64);
    if (std::wstring(name) != L"#32770" || !::IsWindowVisible(candidate)) return TRUE;
    *reinterpret_cast<HWND*>(found) = candidate;
    return FALSE;
}

bool same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string text_of(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top);
}

// The window is created as the run asks: its own style and the system's
// default place and size, which a plain window of that style also gets.
TEST_F(dlg_base_win32, is_created_with_its_style_at_the_systems_default_place) {
    HWND reference = ::CreateWindowExW(0, L"STATIC", L"", RUN_STYLE & ~WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(reference, nullptr);
    const RECT default_rect = rect_of(reference);
    ::DestroyWindow(reference);

    t_created_style = 0;
    HHOOK hook = ::SetWindowsHookExW(WH_CBT, record_creation, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    hint_like_window window;
    HWND hwnd = make(window);
    ::UnhookWindowsHookEx(hook);
    ASSERT_NE(hwnd, nullptr);

    EXPECT_EQ(t_created_style & RUN_STYLE, RUN_STYLE) << std::hex << t_created_style;
    EXPECT_EQ(t_created_style & WS_POPUP, 0u) << "an overlapped window, as asked";
    const platform::rect at = window.rect_at_creation;
    EXPECT_EQ(at.width(), default_rect.right - default_rect.left) << "the system's default width";
    EXPECT_EQ(at.height(), default_rect.bottom - default_rect.top) << "the system's default height";
    // Once the skin took over, the window is captionless and has the layout's size.
    const RECT now = rect_of(hwnd);
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongW(hwnd, GWL_STYLE)) & WS_CAPTION, 0u);
    RECT client{};
    ::GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, now.right - now.left) << "no frame of the system";
    EXPECT_EQ(client.bottom, now.bottom - now.top);
}

// A double-click on the caption maximises to the work area and a second
// restores; the system's own handling must not undo the window's.
TEST_F(dlg_base_win32, a_caption_double_click_maximises_and_restores) {
    hint_like_window window;
    HWND hwnd = make(window);
    ASSERT_NE(hwnd, nullptr);
    window.center_window();
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    drain();
    const RECT normal = rect_of(hwnd);
    const RECT work = work_area_of(hwnd);
    const LPARAM at = MAKELPARAM(normal.left + 150, normal.top + 8);

    ::SendMessageW(hwnd, WM_NCLBUTTONDBLCLK, HTCAPTION, at);
    drain();
    EXPECT_TRUE(::IsZoomed(hwnd));
    EXPECT_TRUE(same(rect_of(hwnd), work)) << text_of(rect_of(hwnd)) << " is not the work area " << text_of(work);

    ::SendMessageW(hwnd, WM_NCLBUTTONDBLCLK, HTCAPTION, MAKELPARAM(work.left + 150, work.top + 8));
    drain();
    EXPECT_FALSE(::IsZoomed(hwnd));
    EXPECT_TRUE(same(rect_of(hwnd), normal))
        << text_of(rect_of(hwnd)) << " is not the place before " << text_of(normal);
}

// A press on the caption reaches the window's procedure once; the system's
// move starts only past the drag rectangle (here the button is released at
// once, so none starts) and the press never comes back to the procedure.
TEST_F(dlg_base_win32, a_caption_press_reaches_the_window_once) {
    hint_like_window window;
    HWND hwnd = make(window);
    ASSERT_NE(hwnd, nullptr);
    window.center_window();
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    ::SetForegroundWindow(hwnd);
    drain();
    const RECT before = rect_of(hwnd);
    // The button is not held: a move loop the system starts ends on these.
    ::PostMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
    ::PostMessageW(hwnd, WM_LBUTTONUP, 0, 0);
    ::SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(before.left + 150, before.top + 8));
    drain();
    EXPECT_EQ(window.caption_presses, 1);
    EXPECT_LE(window.move_commands, 1) << "the system's move ran more than once";
    EXPECT_TRUE(same(rect_of(hwnd), before)) << "moved without the pointer moving: " << text_of(rect_of(hwnd));
}

// The system's message box, owned by the window: its caption, text and
// buttons as asked, and the answer of the button pressed.
TEST_F(dlg_base_win32, message_boxes_are_the_systems_own) {
    hint_like_window window;
    HWND hwnd = make(window);
    ASSERT_NE(hwnd, nullptr);
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    drain();
    struct box_case {
        const char* name;
        unsigned type;
        bool code_page_936;
        int press;
        std::vector<int> buttons;
    };
    const box_case cases[] = {
        {"retry or cancel, retried", MB_RETRYCANCEL, false, IDRETRY, {IDRETRY, IDCANCEL}},
        {"retry or cancel, cancelled", MB_RETRYCANCEL | MB_ICONWARNING, false, IDCANCEL, {IDRETRY, IDCANCEL}},
        {"ok or cancel in code page 936, confirmed", MB_OKCANCEL, true, IDOK, {IDOK, IDCANCEL}},
    };
    const std::wstring caption = L"\u63D0\u793A";           // 提示
    const std::wstring text = L"\u786E\u5B9A\u505C\u6B62";  // 确定停止
    for (const box_case& c : cases) {
        SCOPED_TRACE(c.name);
        const DWORD ui_thread = ::GetCurrentThreadId();
        std::atomic<bool> seen{false};
        std::wstring seen_caption;
        std::wstring seen_text;
        HWND seen_owner = nullptr;
        std::vector<int> present;
        // The box runs its own loop on this thread; another thread finds it
        // and presses a button as a person would.
        std::thread person([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            HWND box = nullptr;
            while (box == nullptr && std::chrono::steady_clock::now() < deadline) {
                ::EnumThreadWindows(ui_thread, find_dialog, reinterpret_cast<LPARAM>(&box));
                if (box == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (box == nullptr) {
                // Whatever box is open instead ends with the thread's loops.
                ::PostThreadMessageW(ui_thread, WM_QUIT, 0, 0);
                return;
            }
            seen = true;
            wchar_t buffer[256] = {};
            ::GetWindowTextW(box, buffer, 256);
            seen_caption = buffer;
            ::GetDlgItemTextW(box, 0xFFFF, buffer, 256);
            seen_text = buffer;
            seen_owner = ::GetWindow(box, GW_OWNER);
            for (int id : {IDOK, IDCANCEL, IDRETRY}) {
                if (::GetDlgItem(box, id) != nullptr) present.push_back(id);
            }
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(c.press, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(box, c.press)));
        });
        const platform::window_handle owner = reinterpret_cast<platform::window_handle>(hwnd);
        const int answer = c.code_page_936 ? skinui::message_box_a(owner, platform::wide_to_gbk(text),
                                                                   platform::wide_to_gbk(caption), c.type)
                                           : skinui::message_box(owner, text, caption, c.type);
        person.join();
        ASSERT_TRUE(seen) << "no system message box appeared";
        EXPECT_EQ(answer, c.press);
        EXPECT_EQ(seen_caption, caption);
        EXPECT_EQ(seen_text, text);
        EXPECT_EQ(seen_owner, hwnd);
        std::vector<int> expected = c.buttons;
        std::sort(expected.begin(), expected.end());
        std::sort(present.begin(), present.end());
        EXPECT_EQ(present, expected);
        EXPECT_EQ(skinui::current_message_box(), 0u) << "no drawn box besides";
    }
}

}  // namespace
