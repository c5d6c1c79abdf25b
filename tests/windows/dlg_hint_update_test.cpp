// The hint window on the off-screen display: owned by and centred over the
// product, its title, keyboard focus and Tab order, close and cancel, OK
// opening the progress window, and the system close command.
#include "windows/dlg_hint_update.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/update_check/test_server.h"
#include "tests/windows/window_test_support.h"
#include "toolkit/message_box.h"
#include "windows/dlg_update.h"

namespace {

using namespace window_test;
using platform::rect;

class dlg_hint_update_test : public ::testing::Test {
protected:
    void SetUp() override {
        reset_environment();
        task = make_task(product.handle, "1.0", "2.0");
    }
    void TearDown() override {
        if (task->worker_thread.joinable()) task->worker_thread.join();
        if (hint.update_wnd != nullptr) platform::destroy_window(hint.update_wnd->handle());
        platform::destroy_window(hint.handle());
        reset_environment();
    }
    // As the run sequence shows it, painted once.
    void open(bool with_task = true, platform::window_handle owner = 0) {
        hint.task = with_task ? task.get() : nullptr;
        ASSERT_NE(hint.create(owner == 0 ? product.handle : owner, L"自动更新", 0x10CF0000, 0x100), 0u);
        hint.center_window();
        platform::show_window(hint.handle(), platform::SW_SHOWNORMAL);
        settle();
    }
    const skinui::control* focused() const { return hint.paint_manager.focus(); }
    const skinui::control* named(const wchar_t* name) const { return hint.paint_manager.find_control(name); }

    product_window product;
    std::unique_ptr<update_task> task;
    dlg_hint_update hint;
};

TEST_F(dlg_hint_update_test, shown_owned_by_the_product_centred_over_it_with_the_close_button_focused) {
    open();
    platform::offscreen_window_state state;
    ASSERT_TRUE(platform::offscreen_window_info(hint.handle(), state));
    EXPECT_EQ(state.owner, product.handle);
    EXPECT_EQ(state.bounds, (rect{394, 300, 806, 500})) << "centred over the product's 200,150,1000,650";
    EXPECT_EQ(state.title, L"自动更新");
    EXPECT_EQ(state.ex_style, 0x100u);
    EXPECT_EQ(focused(), named(L"closebtn"));
    const wchar_t* order[] = {L"okbtn", L"cancelbtn", L"closebtn"};
    for (const wchar_t* next : order) {
        modal_script::press_key(hint.handle(), platform::VK_TAB);
        settle();
        EXPECT_EQ(focused(), named(next));
    }
}

struct decline_case {
    const char* name;
    const wchar_t* button;  // null: Return on the focused button
    bool with_task;
};

TEST_F(dlg_hint_update_test, close_cancel_and_return_hide_the_window_decline_and_end_the_loop) {
    const decline_case cases[] = {
        {"close", L"closebtn", true},
        {"cancel", L"cancelbtn", true},
        {"Return on the focused close button", nullptr, true},
        {"cancel without a task", L"cancelbtn", false},
    };
    for (const decline_case& c : cases) {
        open(c.with_task);
        product.seen.clear();
        bool product_enabled_inside = true;
        modal_script::script script;
        script.then([&] { product_enabled_inside = platform::is_window_enabled(product.handle); });
        if (c.button != nullptr) {
            post_click(hint, c.button);
        } else {
            modal_script::press_key(hint.handle(), platform::VK_RETURN);
        }
        hint.show_modal();
        EXPECT_FALSE(product_enabled_inside) << c.name;
        EXPECT_FALSE(platform::is_window_visible(hint.handle())) << c.name;
        EXPECT_EQ(product.got(QUIT_MESSAGE), c.with_task) << c.name << ": below the minimum version, declining closes";
        EXPECT_TRUE(platform::is_window_enabled(product.handle)) << c.name;
        EXPECT_EQ(platform::get_focus(), product.handle) << c.name;
        EXPECT_EQ(hint.update_wnd, nullptr) << c.name;
        platform::destroy_window(hint.handle());
        quit_queued();
    }
}

TEST_F(dlg_hint_update_test, the_system_close_command_ends_the_loop_without_hiding_or_declining) {
    open();
    hint.post_message(platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0);
    hint.show_modal();
    EXPECT_TRUE(platform::is_window_visible(hint.handle()));
    EXPECT_FALSE(product.got(QUIT_MESSAGE));
    EXPECT_TRUE(quit_queued());
}

// OK on the hint window: the progress window runs a real download from a
// server on 127.0.0.1, or is closed by the system close command meanwhile.
TEST_F(dlg_hint_update_test, ok_hides_the_hint_and_runs_the_progress_window_whose_end_ends_both_loops) {
    test_support::test_server server;
    const std::string body(100000, 'i');
    server.server().Get("/pkg/setup.bin", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/octet-stream");
    });
    ASSERT_TRUE(server.start());
    task->package_url = server.url("/pkg/setup.bin");
    open();
    modal_script::script script;
    bool hint_hidden_inside = false, progress_shown_inside = false, product_enabled_inside = true;
    platform::offscreen_window_state progress_state;
    post_click(hint, L"okbtn");
    script.then([&] {
        hint_hidden_inside = !platform::is_window_visible(hint.handle());
        ASSERT_NE(hint.update_wnd, nullptr);
        progress_shown_inside = platform::is_window_visible(hint.update_wnd->handle());
        product_enabled_inside = platform::is_window_enabled(product.handle);
        platform::offscreen_window_info(hint.update_wnd->handle(), progress_state);
    });
    hint.show_modal();
    EXPECT_TRUE(hint_hidden_inside);
    EXPECT_TRUE(progress_shown_inside);
    EXPECT_FALSE(product_enabled_inside) << "the product stays disabled while the progress window is open";
    EXPECT_EQ(progress_state.owner, 0u);
    EXPECT_EQ(progress_state.bounds, (rect{347, 260, 933, 540})) << "centred on the work area";
    EXPECT_EQ(progress_state.title, L"自动更新");
    ASSERT_NE(hint.update_wnd, nullptr);
    EXPECT_EQ(hint.update_wnd->task, task.get());
    EXPECT_EQ(task->package_state.load(), package_ready);
    EXPECT_FALSE(platform::is_window_visible(hint.handle())) << "the hint window is not shown again";
    EXPECT_TRUE(platform::is_window_enabled(product.handle));
    EXPECT_EQ(platform::get_focus(), product.handle);
    EXPECT_TRUE(platform::is_window_visible(product.handle)) << "the overlapped hint window reports no parent to hide";
    EXPECT_TRUE(quit_queued());
    task->worker_thread.join();
    std::error_code ignored;
    std::filesystem::remove(task->package_path, ignored);
}

TEST_F(dlg_hint_update_test, the_system_close_command_on_the_progress_window_ends_both_loops_without_asking) {
    test_support::test_server server;
    server.server().Get("/pkg/slow.bin",
                        [&](const httplib::Request&, httplib::Response&) { server.wait_until_stopped(); });
    ASSERT_TRUE(server.start());
    task->package_url = server.url("/pkg/slow.bin");
    open();
    modal_script::script script;
    platform::window_handle box = 0;
    post_click(hint, L"okbtn");
    script.then([&] {
        hint.update_wnd->post_message(platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0);
        script.then([&] { box = skinui::current_message_box(); });
    });
    hint.show_modal();
    EXPECT_EQ(box, 0u);
    EXPECT_FALSE(g_update_cancelled.load());
    EXPECT_NE(task->package_state.load(), package_ready);
    EXPECT_FALSE(product.got(QUIT_MESSAGE)) << "nothing was declined";
    server.stop();  // the worker's transfer fails and it ends
    task->worker_thread.join();
}

}  // namespace
