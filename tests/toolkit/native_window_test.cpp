// The native window wrapper on the off-screen display: binding through the
// window procedure, class registration, centring, and the modal loop with
// its owner, nested loops, WM_QUIT and WM_CLOSE.
#include "toolkit/native_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/offscreen/offscreen_display.h"
#include "platform/window.h"
#include "tests/toolkit/modal_script.h"

namespace platform {
std::ostream& operator<<(std::ostream& out, const rect& r) {
    return out << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom;
}
}  // namespace platform

namespace {

using platform::rect;

class probe_window : public skinui::native_window {
public:
    explicit probe_window(std::wstring class_name = L"ProbeWnd", std::uint32_t style = 0)
        : class_name_(std::move(class_name)), style_(style) {}
    std::wstring window_class_name() const override { return class_name_; }
    std::uint32_t class_style() const override { return style_; }
    platform::lresult handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) override {
        seen.push_back(id);
        if (id == platform::WM_NCCREATE) handle_at_nccreate = handle();
        if (id == platform::WM_CLOSE && keep_open_on_close) return 0;  // a close the window declines
        return native_window::handle_message(id, w, l);
    }
    void on_final_message(platform::window_handle window) override { final_handle = window; }

    std::vector<std::uint32_t> seen;
    platform::window_handle handle_at_nccreate = 0;
    platform::window_handle final_handle = 0;
    bool keep_open_on_close = false;

private:
    std::wstring class_name_;
    std::uint32_t style_;
};

class native_window_test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::select_display(platform::display_kind::offscreen));
        platform::set_offscreen_work_area({0, 0, 1280, 800});
    }
    void TearDown() override {
        for (platform::window_handle w : made_) platform::destroy_window(w);
        platform::set_offscreen_work_area({0, 0, 1280, 800});
        platform::message msg;
        while (platform::peek_message(msg)) {
        }
    }
    platform::window_handle make(probe_window& window, platform::window_handle owner = 0, rect at = {0, 0, 200, 100}) {
        const platform::window_handle h =
            window.create(owner, L"probe", 0, 0, at.left, at.top, at.width(), at.height());
        if (h != 0) made_.push_back(h);
        return h;
    }
    static bool queued_quit(int& code) {
        platform::message msg;
        while (platform::peek_message(msg)) {
            if (msg.id == platform::WM_QUIT) {
                code = static_cast<int>(msg.w);
                return true;
            }
        }
        return false;
    }
    std::vector<platform::window_handle> made_;
};

TEST_F(native_window_test, the_window_procedure_binds_the_object_from_nccreate_to_ncdestroy) {
    probe_window window(L"ProbeWnd", platform::CS_DBLCLKS);
    const platform::window_handle h = make(window);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(window.handle(), h);
    EXPECT_EQ(window.handle_at_nccreate, h) << "the handle is stored before the object sees WM_NCCREATE";
    ASSERT_GE(window.seen.size(), 2u);
    EXPECT_EQ(window.seen[0], platform::WM_NCCREATE);
    EXPECT_EQ(window.seen[1], platform::WM_CREATE);
    platform::offscreen_window_state state;
    ASSERT_TRUE(platform::offscreen_window_info(h, state));
    EXPECT_EQ(state.class_style, platform::CS_DBLCLKS);
    EXPECT_EQ(state.bounds, (rect{0, 0, 200, 100}));

    window.send_message(platform::WM_USER + 1);
    EXPECT_TRUE(window.post_message(platform::WM_USER + 2));
    platform::message msg;
    ASSERT_TRUE(platform::peek_message(msg));
    platform::dispatch_message(msg);
    EXPECT_EQ(window.seen[window.seen.size() - 2], platform::WM_USER + 1);
    EXPECT_EQ(window.seen.back(), platform::WM_USER + 2);

    platform::destroy_window(h);
    EXPECT_EQ(window.seen.back(), platform::WM_DESTROY) << "WM_NCDESTROY goes to the previous procedure only";
    EXPECT_EQ(window.final_handle, h);
    EXPECT_EQ(window.handle(), 0u);
    const std::size_t count = window.seen.size();
    platform::send_message(h, platform::WM_USER + 3, 0, 0);
    EXPECT_EQ(window.seen.size(), count) << "nothing reaches the object after the window is gone";
}

TEST_F(native_window_test, a_second_window_of_a_class_reuses_it_and_a_nameless_class_fails) {
    probe_window first(L"SharedProbeWnd");
    probe_window second(L"SharedProbeWnd");
    EXPECT_NE(make(first), 0u);
    EXPECT_TRUE(skinui::is_window_class_registered(L"SharedProbeWnd"));
    const platform::window_handle h = make(second);
    ASSERT_NE(h, 0u);
    second.send_message(platform::WM_USER + 5);
    EXPECT_EQ(second.seen.back(), platform::WM_USER + 5);
    EXPECT_TRUE(first.seen.empty() || first.seen.back() != platform::WM_USER + 5);

    probe_window nameless(L"");
    EXPECT_EQ(make(nameless), 0u);
    EXPECT_EQ(nameless.handle(), 0u);
}

TEST_F(native_window_test, an_object_deleted_before_its_window_no_longer_gets_messages) {
    platform::window_handle h = 0;
    {
        probe_window window;
        h = make(window);
        ASSERT_NE(h, 0u);
    }
    // The window outlives its object; this must not reach freed memory.
    EXPECT_EQ(platform::send_message(h, platform::WM_USER + 4, 0, 0), 0);
    EXPECT_TRUE(platform::is_window(h));
}

struct centre_case {
    const char* name;
    rect monitor;
    rect work;
    bool with_owner;
    rect owner;
    bool owner_minimised;
    int width;
    int height;
    platform::point expected;
};

TEST_F(native_window_test, center_window_places_over_the_owner_or_on_the_work_area_and_inside_it) {
    const rect screen{0, 0, 1280, 800};
    const centre_case cases[] = {
        {"over the owner", screen, screen, true, {100, 100, 500, 400}, false, 200, 100, {200, 200}},
        {"owner minimised: work area", screen, screen, true, {100, 100, 500, 400}, true, 200, 100, {540, 350}},
        {"no owner: work area", screen, screen, false, {}, false, 200, 100, {540, 350}},
        {"work area below a panel", screen, {0, 30, 1280, 800}, false, {}, false, 200, 100, {540, 365}},
        {"owner near the bottom right", screen, screen, true, {1200, 700, 1400, 900}, false, 200, 100, {1080, 700}},
        {"owner above the top left", screen, screen, true, {-300, -200, -100, 0}, false, 200, 100, {0, 0}},
        {"larger than the work area", screen, screen, false, {}, false, 1500, 900, {0, 0}},
        {"odd sizes truncate", screen, screen, true, {0, 0, 101, 101}, false, 51, 51, {25, 25}},
        {"negative centre truncates toward zero",
         {-1280, 0, 0, 800},
         {-1280, 0, 0, 800},
         true,
         {-101, 0, 0, 101},
         false,
         51,
         51,
         {-75, 25}},
    };
    for (const centre_case& c : cases) {
        platform::set_offscreen_monitor(c.monitor, c.work);
        probe_window owner(L"OwnerProbeWnd");
        probe_window window;
        platform::window_handle owner_handle = 0;
        if (c.with_owner) {
            owner_handle = make(owner, 0, c.owner);
            if (c.owner_minimised) platform::show_window(owner_handle, platform::SW_MINIMIZE);
        }
        const platform::window_handle h = make(window, owner_handle, {300, 300, 300 + c.width, 300 + c.height});
        window.center_window();
        const rect got = platform::window_rect(h);
        EXPECT_EQ(got, (rect{c.expected.x, c.expected.y, c.expected.x + c.width, c.expected.y + c.height})) << c.name;
    }
}

TEST_F(native_window_test, show_modal_disables_the_owner_while_it_runs_and_reposts_wm_quit) {
    probe_window owner(L"OwnerProbeWnd");
    probe_window window;
    const platform::window_handle owner_handle = make(owner);
    const platform::window_handle h = make(window, owner_handle);
    modal_script::script script;
    bool owner_enabled_inside = true;
    bool visible_inside = false;
    script.then([&] {
        owner_enabled_inside = platform::is_window_enabled(owner_handle);
        visible_inside = platform::is_window_visible(h);
        platform::post_quit_message(7);
    });
    EXPECT_EQ(window.show_modal(), 0u);
    platform::offscreen_window_state state;
    ASSERT_TRUE(platform::offscreen_window_info(h, state));
    EXPECT_TRUE(state.modal) << "marked as a modal dialog of its owner";
    EXPECT_FALSE(owner_enabled_inside);
    EXPECT_TRUE(visible_inside);
    EXPECT_TRUE(platform::is_window_enabled(owner_handle));
    EXPECT_EQ(platform::get_focus(), owner_handle);
    EXPECT_TRUE(platform::is_window_visible(h)) << "the loop's end neither hides nor destroys the window";
    int code = -1;
    ASSERT_TRUE(queued_quit(code)) << "WM_QUIT is posted again for the enclosing loops";
    EXPECT_EQ(code, 7);
}

TEST_F(native_window_test, a_nested_loop_ending_on_wm_quit_ends_the_outer_one_too) {
    probe_window outer;
    probe_window inner;
    make(outer);
    make(inner);
    modal_script::script script;
    std::vector<std::string> order;
    script.then([&] {
        script.then([&] { platform::post_quit_message(0); });
        order.push_back("inner starts");
        inner.show_modal();
        order.push_back("inner ended");
    });
    outer.show_modal();
    order.push_back("outer ended");
    EXPECT_EQ(order, (std::vector<std::string>{"inner starts", "inner ended", "outer ended"}));
    int code = -1;
    EXPECT_TRUE(queued_quit(code));
}

TEST_F(native_window_test, wm_close_gives_the_result_and_ends_the_loop_with_the_window) {
    probe_window owner(L"OwnerProbeWnd");
    probe_window window;
    const platform::window_handle owner_handle = make(owner);
    const platform::window_handle h = make(window, owner_handle);
    made_.pop_back();  // closed by the loop
    window.post_message(platform::WM_CLOSE, 5, 0);
    EXPECT_EQ(window.show_modal(), 5u);
    EXPECT_FALSE(platform::is_window(h)) << "the default handling of WM_CLOSE destroys the window";
    EXPECT_TRUE(platform::is_window_enabled(owner_handle));
    EXPECT_EQ(platform::get_focus(), owner_handle);
    int code = -1;
    EXPECT_FALSE(queued_quit(code)) << "no WM_QUIT when the loop ended with the window";
}

// A window that declines its close (a stop the user answers No) stays
// modal: its owner must not take input while it is still up.
TEST_F(native_window_test, a_declined_close_keeps_the_owner_disabled) {
    probe_window owner(L"OwnerProbeWnd");
    probe_window window;
    window.keep_open_on_close = true;
    const platform::window_handle owner_handle = make(owner);
    const platform::window_handle h = make(window, owner_handle);
    modal_script::script script;
    bool owner_enabled_after_close = true;
    script.then([&] {
        window.post_message(platform::WM_CLOSE, 5, 0);
        script.then([&] {
            owner_enabled_after_close = platform::is_window_enabled(owner_handle);
            platform::post_quit_message(0);
        });
    });
    window.show_modal();
    EXPECT_TRUE(platform::is_window(h));
    EXPECT_FALSE(owner_enabled_after_close) << "the owner was enabled while its modal window stayed up";
    EXPECT_TRUE(platform::is_window_enabled(owner_handle)) << "the loop's end enables the owner";
}

TEST_F(native_window_test, system_commands_minimise_maximise_restore_and_close_by_default) {
    probe_window window;
    const platform::window_handle h = make(window, 0, {10, 10, 210, 110});
    made_.pop_back();
    platform::show_window(h, platform::SW_SHOWNORMAL);
    window.send_message(platform::WM_SYSCOMMAND, platform::SC_MAXIMIZE);
    EXPECT_TRUE(platform::is_maximized(h));
    EXPECT_EQ(platform::window_rect(h), (rect{0, 0, 1280, 800}));
    window.send_message(platform::WM_SYSCOMMAND, platform::SC_RESTORE);
    EXPECT_FALSE(platform::is_maximized(h));
    EXPECT_EQ(platform::window_rect(h), (rect{10, 10, 210, 110}));
    window.send_message(platform::WM_SYSCOMMAND, platform::SC_MINIMIZE);
    EXPECT_TRUE(platform::is_minimized(h));
    window.send_message(platform::WM_SYSCOMMAND, platform::SC_CLOSE);
    EXPECT_FALSE(platform::is_window(h));
}

}  // namespace
