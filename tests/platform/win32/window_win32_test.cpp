// Tests of our windows as real Win32 windows (under Wine on a private X
// display): creation and binding, geometry without a frame, show states,
// painting through the DIB section, owners, monitors and regions.
// The platform's names first; windows.h then defines the same names as macros.
// clang-format off
#include "platform/window.h"
#include "platform/window_backend.h"
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "win32_test_support.h"

namespace {

struct seen_message {
    UINT id;
    platform::wparam w;
    platform::lparam l;
};

// Records what it is sent; paints a solid colour over what it is asked to
// paint; answers WM_GETMINMAXINFO with a fixed maximised placement.
class test_window : public platform::message_handler {
public:
    platform::lresult handle_message(platform::window_handle window, std::uint32_t id, platform::wparam w,
                                     platform::lparam l) override {
        messages.push_back({id, w, l});
        if (id == WM_PAINT) {
            painted = platform::take_update_rect(window);
            const platform::rect client = platform::client_rect(window);
            std::vector<std::uint32_t> pixels(static_cast<std::size_t>(client.width()) * client.height(), colour);
            platform::present(window, pixels.data(), client.width(), client.height(), client.width() * 4, painted);
        }
        if (id == WM_NCHITTEST) {
            const platform::rect bounds = platform::window_rect(window);
            const int y = static_cast<std::int16_t>(HIWORD(l)) - bounds.top;
            return y < caption_height ? HTCAPTION : HTNOWHERE;
        }
        if (id >= WM_USER) return static_cast<platform::lresult>(w) * 2;
        if (id == WM_GETMINMAXINFO) {
            auto* info = reinterpret_cast<platform::minmax_info*>(l);
            info->max_position = {10, 20};
            info->max_size = {500, 400};
        }
        return 0;
    }
    std::size_t count(UINT id) const {
        std::size_t n = 0;
        for (const seen_message& m : messages) n += m.id == id ? 1 : 0;
        return n;
    }
    std::vector<seen_message> messages;
    platform::rect painted;
    std::uint32_t colour = 0xFF3366CC;  // premultiplied BGRA: red 0x33, green 0x66, blue 0xCC
    int caption_height = 28;
};

class win32_window_test : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(platform::select_display(platform::display_kind::win32)); }
    void TearDown() override {
        for (platform::window_handle w : made_) platform::destroy_window(w);
        platform::select_display(platform::display_kind::offscreen);
    }
    platform::window_handle make(test_window& handler, const std::wstring& class_name, platform::rect bounds,
                                 platform::window_handle owner = 0, std::uint32_t class_style = 0) {
        params_.class_name = class_name;
        params_.title = L"\u81EA\u52A8\u66F4\u65B0";
        params_.owner = owner;
        params_.bounds = bounds;
        params_.class_style = class_style;
        params_.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        const platform::window_handle w = platform::create_window(params_, &handler);
        if (w != 0) made_.push_back(w);
        return w;
    }
    // Handles whatever is queued until the condition holds (at most 5 s).
    static bool pump_until(const std::function<bool()>& condition) {
        return win32_test::eventually(
            [&] {
                platform::message msg;
                while (platform::peek_message(msg)) platform::dispatch_message(msg);
                return condition();
            },
            std::chrono::seconds(5));
    }
    static COLORREF pixel_at(platform::window_handle window, int x, int y) {
        HDC dc = ::GetDC(reinterpret_cast<HWND>(window));
        const COLORREF value = ::GetPixel(dc, x, y);
        ::ReleaseDC(reinterpret_cast<HWND>(window), dc);
        return value;
    }

    // Handlers live in the fixture, so that they outlive the windows that
    // TearDown destroys.
    test_window& new_handler() { return handlers_.emplace_back(); }

    platform::window_params params_;
    std::deque<test_window> handlers_;
    std::vector<platform::window_handle> made_;
};

TEST_F(win32_window_test, creation_binds_the_handler_and_gives_a_frameless_client) {
    test_window& handler = new_handler();
    const platform::rect bounds{100, 120, 400, 320};
    const platform::window_handle w = make(handler, L"TamsaTestHint", bounds);
    ASSERT_NE(w, 0u);
    ASSERT_GE(handler.messages.size(), 2u);
    EXPECT_EQ(handler.messages[0].id, static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(handler.messages[0].l, reinterpret_cast<platform::lparam>(&params_)) << "the caller's parameters";
    EXPECT_EQ(handler.count(WM_CREATE), 1u);
    EXPECT_TRUE(platform::is_registered_window(w));
    EXPECT_TRUE(platform::is_window(w));
    EXPECT_FALSE(platform::is_window_visible(w)) << "made hidden";
    EXPECT_EQ(platform::window_rect(w), bounds);
    EXPECT_EQ(platform::client_rect(w), (platform::rect{0, 0, 300, 200})) << "no caption or border of the system";
    EXPECT_EQ(platform::window_style(w), params_.style) << "the style reads back as given";
    EXPECT_EQ(platform::window_text(w), params_.title);
    EXPECT_EQ(platform::owner_of(w), 0u);
    platform::set_window_text(w, L"title 2");
    EXPECT_EQ(platform::window_text(w), L"title 2");
}

TEST_F(win32_window_test, windows_of_one_class_share_it_and_keep_its_style) {
    test_window& first = new_handler();
    test_window& second = new_handler();
    const platform::window_handle a = make(first, L"TamsaTestShared", {0, 0, 50, 50}, 0, CS_DBLCLKS);
    const platform::window_handle b = make(second, L"TamsaTestShared", {60, 0, 110, 50}, 0, CS_DBLCLKS);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u) << "a second window of the class reuses it";
    EXPECT_NE(::GetClassLongW(reinterpret_cast<HWND>(a), GCL_STYLE) & CS_DBLCLKS, 0u);
    EXPECT_NE(first.count(WM_CREATE), 0u);
    EXPECT_NE(second.count(WM_CREATE), 0u);
}

TEST_F(win32_window_test, show_states_minimise_restore_and_maximise_to_the_answered_placement) {
    test_window& handler = new_handler();
    const platform::rect bounds{100, 100, 300, 250};
    const platform::window_handle w = make(handler, L"TamsaTestStates", bounds);
    platform::show_window(w, SW_SHOWNORMAL);
    EXPECT_TRUE(platform::is_window_visible(w));
    platform::minimize_window(w);
    EXPECT_TRUE(pump_until([&] { return platform::is_minimized(w); }));
    platform::show_window(w, SW_RESTORE);
    EXPECT_TRUE(pump_until([&] { return !platform::is_minimized(w); }));
    EXPECT_EQ(platform::window_rect(w), bounds);
    platform::show_window(w, SW_MAXIMIZE);
    EXPECT_TRUE(pump_until([&] { return platform::is_maximized(w); }));
    EXPECT_EQ(platform::window_rect(w), (platform::rect{10, 20, 510, 420})) << "WM_GETMINMAXINFO's answer";
    EXPECT_NE(handler.count(WM_GETMINMAXINFO), 0u);
    platform::show_window(w, SW_HIDE);
    EXPECT_FALSE(platform::is_window_visible(w));
}

TEST_F(win32_window_test, move_reports_the_new_size) {
    test_window& handler = new_handler();
    const platform::window_handle w = make(handler, L"TamsaTestMove", {0, 0, 100, 100});
    handler.messages.clear();
    platform::move_window(w, 30, 40, 250, 120);
    EXPECT_EQ(platform::window_rect(w), (platform::rect{30, 40, 280, 160}));
    bool sized = false;
    for (const seen_message& m : handler.messages) {
        sized = sized || (m.id == WM_SIZE && LOWORD(m.l) == 250 && HIWORD(m.l) == 120);
    }
    EXPECT_TRUE(sized) << "WM_SIZE with 250 x 120";
}

TEST_F(win32_window_test, invalidated_area_is_painted_through_the_dib_section) {
    test_window& handler = new_handler();
    const platform::window_handle w = make(handler, L"TamsaTestPaint", {50, 50, 250, 150});
    platform::show_window(w, SW_SHOWNORMAL);
    ASSERT_TRUE(pump_until([&] { return handler.count(WM_PAINT) > 0; })) << "the first paint";
    EXPECT_EQ(pixel_at(w, 20, 20), RGB(0x33, 0x66, 0xCC));
    EXPECT_EQ(pixel_at(w, 199, 99), RGB(0x33, 0x66, 0xCC)) << "the last pixel of the client";

    handler.colour = 0xFF00FF00;  // green
    const std::size_t paints = handler.count(WM_PAINT);
    const platform::rect area{10, 10, 40, 30};
    platform::invalidate_rect(w, &area);
    ASSERT_TRUE(pump_until([&] { return handler.count(WM_PAINT) > paints; }));
    EXPECT_EQ(handler.painted, area) << "the update area is what was invalidated";
    EXPECT_EQ(pixel_at(w, 20, 20), RGB(0, 0xFF, 0)) << "inside the area";
    EXPECT_EQ(pixel_at(w, 100, 50), RGB(0x33, 0x66, 0xCC)) << "outside the area nothing changed";
    EXPECT_EQ(platform::take_update_rect(w), platform::rect{}) << "taken by the paint";
}

TEST_F(win32_window_test, owner_enable_and_close_keep_win32_meanings) {
    test_window& owner_handler = new_handler();
    test_window& owned_handler = new_handler();
    const platform::window_handle owner = make(owner_handler, L"TamsaTestOwner", {0, 0, 300, 300});
    const platform::window_handle owned = make(owned_handler, L"TamsaTestOwned", {50, 50, 150, 150}, owner);
    EXPECT_EQ(platform::owner_of(owned), owner);
    platform::enable_window(owner, false);
    EXPECT_FALSE(platform::is_window_enabled(owner));
    platform::enable_window(owner, true);
    EXPECT_TRUE(platform::is_window_enabled(owner));
    // The system's close never destroys our window: the handler decides.
    EXPECT_TRUE(platform::post_message(owned, WM_CLOSE, 0, 0));
    ASSERT_TRUE(pump_until([&] { return owned_handler.count(WM_CLOSE) > 0; }));
    EXPECT_TRUE(platform::is_window(owned));
    platform::destroy_window(owned);
    made_.pop_back();
    EXPECT_EQ(owned_handler.count(WM_NCDESTROY), 1u);
    EXPECT_FALSE(platform::is_window(owned));
    EXPECT_FALSE(platform::is_registered_window(owned));
}

TEST_F(win32_window_test, the_handler_answers_and_the_system_fills_in_where_it_does_not) {
    test_window& handler = new_handler();
    const platform::window_handle w = make(handler, L"TamsaTestAnswers", {100, 100, 300, 200});
    HWND hwnd = reinterpret_cast<HWND>(w);
    EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(150, 110)), HTCAPTION) << "the caption band";
    EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(150, 150)), HTCLIENT) << "the system's answer";
    EXPECT_EQ(::SendMessageW(hwnd, WM_USER + 5, 21, 0), 42) << "the handler's result comes back";
    EXPECT_EQ(::SendMessageW(hwnd, WM_ERASEBKGND, 0, 0), 1) << "the toolkit paints every pixel";
    handler.messages.clear();
    ::SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(handler.count(WM_SYSCOMMAND), 1u);
    EXPECT_EQ(handler.count(WM_CLOSE), 0u) << "the handler decides what the system close does";
    EXPECT_TRUE(platform::is_window(w));
    platform::set_cursor(platform::cursor_kind::hand);
    EXPECT_EQ(platform::current_cursor(), platform::cursor_kind::hand);
    platform::set_cursor(platform::cursor_kind::arrow);
}

TEST_F(win32_window_test, monitor_and_work_area_are_the_screens) {
    test_window& handler = new_handler();
    const platform::window_handle w = make(handler, L"TamsaTestMonitor", {10, 10, 60, 60});
    const platform::rect screen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    EXPECT_EQ(platform::monitor_rect_near(w), screen);
    const platform::rect work = platform::work_area_near(w);
    EXPECT_FALSE(work.empty());
    EXPECT_EQ(platform::intersect_rect(work, screen), work) << "the work area lies on the monitor";
}

TEST_F(win32_window_test, round_corners_clip_the_window_until_removed) {
    test_window& handler = new_handler();
    const platform::window_handle w = make(handler, L"TamsaTestRound", {0, 0, 200, 100});
    HWND hwnd = reinterpret_cast<HWND>(w);
    platform::set_window_round_corners(w, {20, 20});
    HRGN region = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(hwnd, region), ERROR);
    EXPECT_FALSE(::PtInRegion(region, 0, 0)) << "the corner is cut";
    EXPECT_TRUE(::PtInRegion(region, 100, 50));
    EXPECT_TRUE(::PtInRegion(region, 199, 50)) << "the whole width is kept";
    platform::set_window_round_corners(w, {0, 0});
    EXPECT_EQ(::GetWindowRgn(hwnd, region), ERROR) << "no region any more";
    ::DeleteObject(region);
}

}  // namespace
