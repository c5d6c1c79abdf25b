// The progress window on the off-screen display, driven by posted messages
// and synthetic clicks: start, progress, completion, failure and retry, the
// stop confirmation, minimise, the system close command and the link.
#include "windows/dlg_update.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/stderr_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/update_check/test_server.h"
#include "tests/windows/window_test_support.h"
#include "toolkit/message_box.h"
#include "toolkit/progress.h"

namespace {

using namespace window_test;
using platform::rect;

// The layout's bar: Progress 1.1 of UpdateWnd.xml.
constexpr rect BAR{46, 139, 544, 153};
const wchar_t INITIAL_FORE[] = L"progfg.png";

// The progress window with its start message counted instead of starting a
// download worker (the real start has its own tests below).
class counted_start final : public dlg_update {
public:
    platform::lresult handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) override {
        if (id == WM_DOWNLOAD_START) {
            ++starts;
            return 0;
        }
        return dlg_update::handle_message(id, w, l);
    }
    int starts = 0;
};

class dlg_update_test : public ::testing::Test {
protected:
    void SetUp() override {
        reset_environment();
        task = make_task(product.handle, "1.0", "2.0");
        window.task = task.get();
        ASSERT_NE(window.create(0, L"自动更新", 0x10CF0000, 0), 0u);
        window.center_window();
        platform::show_window(window.handle(), platform::SW_SHOWNORMAL);
        settle();  // the first paint: layout, "windowinit", the start message
    }
    void TearDown() override {
        if (task->worker_thread.joinable()) task->worker_thread.join();
        platform::destroy_window(window.handle());
        reset_environment();
    }

    int bar_value() const { return window.progress_bar ? window.progress_bar->value() : -1; }
    std::wstring fore() const { return window.progress_bar ? window.progress_bar->fore_image().attribute : L""; }

    product_window product;
    std::unique_ptr<update_task> task;
    counted_start window;
};

TEST_F(dlg_update_test, the_first_paint_titles_the_window_and_asks_once_for_the_start) {
    EXPECT_EQ(window.starts, 1);
    ASSERT_NE(window.progress_bar, nullptr);
    EXPECT_EQ(window.paint_manager.find_control(L"title")->text(), L"自动更新");
    EXPECT_EQ(platform::window_text(window.handle()), L"自动更新");
    EXPECT_EQ(platform::window_rect(window.handle()), (rect{347, 260, 933, 540})) << "centred on the work area";
    EXPECT_EQ(window.progress_bar->pos(), BAR);
    platform::send_message(window.handle(), platform::WM_PAINT, 0, 0);
    settle();
    EXPECT_EQ(window.starts, 1) << "only the first paint starts the download";
}

struct progress_case {
    const char* name;
    platform::wparam total;
    platform::lparam written;
    bool paused;
    int value;
    std::wstring fore;
};

TEST_F(dlg_update_test, progress_messages_move_the_bar_and_repaint_only_its_rectangle) {
    const progress_case cases[] = {
        {"no total", 0, 50, false, 1, INITIAL_FORE},
        {"nothing written", 100, 0, false, 1, INITIAL_FORE},
        {"below one percent", 1000, 5, false, 1, INITIAL_FORE},
        {"paused", 1000, 420, true, 1, INITIAL_FORE},
        {"42 percent", 1000, 420, false, 42, L"file='progfg.png' source='0,0,209,14' dest='0,0,209,14' "},
        {"whole", 4096, 4096, false, 100, L"file='progfg.png' source='0,0,498,14' dest='0,0,498,14' "},
        {"beyond the total", 100, 150, false, 100, L"file='progfg.png' source='0,0,747,14' dest='0,0,747,14' "},
        {"sizes above 2 GiB read as signed", 0x7FFFFFFF, 0x3FFFFFFF, false, 49,
         L"file='progfg.png' source='0,0,244,14' dest='0,0,244,14' "},
    };
    for (const progress_case& c : cases) {
        window.progress_bar->set_value(1);
        window.progress_bar->set_fore_image(INITIAL_FORE);
        platform::send_message(window.handle(), platform::WM_PAINT, 0, 0);
        task->progress_paused.store(c.paused);
        window.send_message(WM_DOWNLOAD_PROGRESS, c.total, c.written);
        task->progress_paused.store(false);
        EXPECT_EQ(bar_value(), c.value) << c.name;
        EXPECT_EQ(fore(), c.fore) << c.name;
        platform::offscreen_window_state state;
        platform::offscreen_window_info(window.handle(), state);
        const rect expected = c.value == 1 ? rect{} : BAR;
        EXPECT_EQ(state.pending_update, expected) << c.name << ": only the bar is repainted";
    }
}

TEST_F(dlg_update_test, a_stream_of_progress_messages_leaves_one_paint_pending) {
    for (int i = 1; i <= 500; ++i) platform::post_message(window.handle(), WM_DOWNLOAD_PROGRESS, 500, i);
    int paints = 0;
    platform::message msg;
    while (platform::peek_message(msg)) {
        if (msg.id == platform::WM_PAINT) {
            ++paints;
        } else {
            platform::dispatch_message(msg);
        }
    }
    EXPECT_EQ(paints, 1);
    EXPECT_EQ(bar_value(), 100);
}

TEST_F(dlg_update_test, completion_fills_the_bar_and_ends_the_loop) {
    window.post_message(WM_DOWNLOAD_DONE, 1, 0);
    window.show_modal();
    EXPECT_EQ(bar_value(), 100);
    EXPECT_EQ(fore(), L"file='progfg.png' source='0,0,498,14' dest='0,0,498,14' ");
    EXPECT_TRUE(quit_queued());
}

TEST_F(dlg_update_test, a_failure_after_a_confirmed_stop_ends_without_asking) {
    g_update_cancelled.store(true);
    window.post_message(WM_DOWNLOAD_DONE, 0, 0);
    modal_script::script script;
    platform::window_handle box = 0;
    script.then([&] { box = skinui::current_message_box(); });
    window.show_modal();
    EXPECT_EQ(box, 0u);
}

TEST_F(dlg_update_test, a_failure_asks_to_retry_and_retry_starts_again_cancel_ends) {
    modal_script::script script;
    std::wstring title, text;
    // The retried attempt is real: its worker fails (the task has no package
    // address) and posts the one failure that opens the second box.
    std::function<void()> cancel_second_box = [&] {
        if (skinui::current_message_box() == 0) {
            script.later(cancel_second_box);
            return;
        }
        modal_script::box_key(platform::VK_ESCAPE);  // Cancel
    };
    window.post_message(WM_DOWNLOAD_DONE, 0, 0);
    script.later([&] {
        const platform::window_handle box = skinui::current_message_box();
        title = platform::window_text(box);
        text = skinui::message_box_text(box);
        EXPECT_EQ(platform::owner_of(box), window.handle());
        modal_script::box_key(platform::VK_RETURN);  // Retry
        script.later(cancel_second_box);
    });
    window.show_modal();
    EXPECT_EQ(title, L"温馨提示");
    EXPECT_EQ(text, L"下载更新程序失败，请重试");
    EXPECT_EQ(window.starts, 1) << "Retry calls start_download itself, not the start message";
    EXPECT_TRUE(task->worker_thread.joinable()) << "Retry started a new worker";
    EXPECT_EQ(task->progress_window, window.handle());
}

struct stop_case {
    const char* name;
    platform::wparam answer_key;  // Return: OK, Escape: Cancel
    bool package_ready;
    bool cancelled;
    bool product_closed;
    bool paused_after;
};

TEST_F(dlg_update_test, the_stop_confirmation_pauses_and_its_answer_decides) {
    const stop_case cases[] = {
        {"OK stops", platform::VK_RETURN, false, true, true, true},
        {"Cancel goes on", platform::VK_ESCAPE, false, false, false, false},
        {"Cancel after the package became ready ends", platform::VK_ESCAPE, true, false, false, true},
    };
    // A WM_CLOSE from outside (the task manager's end task) is the close button.
    for (const bool by_close_message : {false, true})
        for (const stop_case& c : cases) {
            SCOPED_TRACE(by_close_message ? "WM_CLOSE" : "close button");
            g_update_cancelled.store(false);
            task->progress_paused.store(false);
            task->package_state.store(c.package_ready ? package_ready : package_none);
            product.seen.clear();
            window.progress_bar->set_value(30);
            modal_script::script script;
            bool paused_inside = false;
            bool loop_went_on = false;
            if (by_close_message) {
                window.post_message(platform::WM_CLOSE, 0, 0);
            } else {
                post_click(window, L"closebtn");
            }
            script.later([&] {
                paused_inside = task->progress_paused.load();
                modal_script::box_key(c.answer_key);
                script.later([&] {
                    loop_went_on = true;
                    platform::post_quit_message(0);
                });
            });
            window.show_modal();
            EXPECT_TRUE(paused_inside) << c.name;
            // WM_QUIT comes only once the queue is empty, so the step posted after
            // the answer runs before the loop ends, whatever the answer.
            EXPECT_TRUE(loop_went_on) << c.name;
            EXPECT_EQ(g_update_cancelled.load(), c.cancelled) << c.name;
            EXPECT_EQ(product.got(QUIT_MESSAGE), c.product_closed) << c.name;
            EXPECT_EQ(task->progress_paused.load(), c.paused_after) << c.name;
            if (c.package_ready) {
                EXPECT_EQ(bar_value(), 100) << c.name;
            }
            quit_queued();
        }
}

TEST_F(dlg_update_test, completion_while_the_confirmation_is_open_waits_for_its_answer) {
    for (const bool ok : {false, true}) {
        g_update_cancelled.store(false);
        task->progress_paused.store(false);
        task->package_state.store(package_none);
        window.progress_bar->set_value(30);
        modal_script::script script;
        bool box_still_open = false;
        post_click(window, L"closebtn");
        script.later([&] {
            // The worker stores the state, then posts its message.
            task->package_state.store(package_ready);
            window.post_message(WM_DOWNLOAD_DONE, 1, 0);
            script.later([&] {
                box_still_open = skinui::current_message_box() != 0;
                modal_script::box_key(ok ? platform::VK_RETURN : platform::VK_ESCAPE);
            });
        });
        window.show_modal();
        EXPECT_TRUE(box_still_open) << "completion does not end the loop while the box is open";
        EXPECT_EQ(g_update_cancelled.load(), ok);
        EXPECT_EQ(task->package_state.load(), package_ready);
        EXPECT_EQ(bar_value(), ok ? 30 : 100);
        quit_queued();
    }
}

TEST_F(dlg_update_test, a_failure_while_the_confirmation_is_open_asks_to_retry_on_top) {
    modal_script::script script;
    int boxes_open = 0;
    std::wstring top_text;
    post_click(window, L"closebtn");
    script.later([&] {
        window.post_message(WM_DOWNLOAD_DONE, 0, 0);
        script.later([&] {
            top_text = skinui::message_box_text(skinui::current_message_box());
            boxes_open = 2;
            modal_script::box_key(platform::VK_ESCAPE);  // the retry box: Cancel ends the loop
            script.later([] { modal_script::box_key(platform::VK_ESCAPE); });
        });
    });
    window.show_modal();
    EXPECT_EQ(boxes_open, 2);
    EXPECT_EQ(top_text, L"下载更新程序失败，请重试");
}

TEST_F(dlg_update_test, minimise_button_and_system_close) {
    post_click(window, L"minbtn");
    settle();
    EXPECT_TRUE(platform::is_minimized(window.handle()));
    EXPECT_EQ(bar_value(), 1) << "minimising does not touch the download";

    window.post_message(platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0);
    modal_script::script script;
    platform::window_handle box = 0;
    script.then([&] { box = skinui::current_message_box(); });
    window.show_modal();
    EXPECT_EQ(box, 0u) << "the system close command asks nothing";
    EXPECT_FALSE(g_update_cancelled.load());
    EXPECT_TRUE(platform::is_window(window.handle()));
}

TEST_F(dlg_update_test, return_after_the_first_paint_presses_the_minimise_button_and_tab_moves_on) {
    EXPECT_EQ(window.paint_manager.focus(), window.paint_manager.find_control(L"minbtn"));
    modal_script::press_key(window.handle(), platform::VK_TAB);
    settle();
    EXPECT_EQ(window.paint_manager.focus(), window.paint_manager.find_control(L"closebtn"));
    modal_script::press_key(window.handle(), platform::VK_TAB);
    modal_script::press_key(window.handle(), platform::VK_RETURN);
    settle();
    EXPECT_TRUE(platform::is_minimized(window.handle()));
}

// The empty address, on every system: one log line and nothing opened.
TEST_F(dlg_update_test, an_empty_page_address_is_logged) {
    test_support::temp_dir dir;
    test_support::stderr_capture log(dir.file("log.txt"));
    task->page_url.clear();
    window.open_download_page();
    log.restore();
    EXPECT_NE(log.text().find("[TamsaUpdate] URL Empty \n"), std::string::npos) << log.text();
}

// Only web addresses are opened: anything else (a local program, a file:
// address, another scheme) is logged and left alone, on every system.
TEST_F(dlg_update_test, the_link_opens_web_addresses_only) {
    test_support::temp_dir dir;
    // A local script: the shell's open would make it executable and run it.
    const std::string script = dir.write("run_me.sh", "#!/bin/sh\ntouch " + dir.file("ran") + "\n");
    const std::string refused[] = {
        script,
        "file://" + script,
        "run_me.sh",
        "ftp://lanxi.example/tool",
        "javascript:alert(1)",
        "http:" + script,
        "http:///etc/passwd",
        "https://",
        "http://lanxi.example/a b",
        "http://lanxi.example/\n-x",
        " http://lanxi.example/",
    };
    for (const std::string& address : refused) {
        const std::string log_path = dir.file("log.txt");
        test_support::stderr_capture log(log_path);
        task->page_url = address;
        window.open_download_page();
        log.restore();
        EXPECT_NE(log.text().find("[TamsaUpdate] URL refused, not a web address: "), std::string::npos)
            << address << "\nlog: " << log.text();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(dir.file("ran"))) << "the local script ran";
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(script).permissions() & std::filesystem::perms::owner_exec,
              std::filesystem::perms::none)
        << "the local script was made executable";
#endif
}

// Opening a link goes to xdg-open on Linux, where a stand-in on PATH can
// record it; on Windows the shell hands it to the system's browser.
#ifndef _WIN32
// A stand-in for xdg-open on PATH that records the address it is given.
class recording_opener {
public:
    recording_opener() {
        record_ = dir_.file("opened.txt");
        const std::string script = dir_.write("xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > " + record_ + ".part\nmv " +
                                                              record_ + ".part " + record_ + "\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        const char* path = std::getenv("PATH");
        saved_path_ = path ? path : "";
        setenv("PATH", (dir_.path().string() + ":" + saved_path_).c_str(), 1);
    }
    ~recording_opener() { setenv("PATH", saved_path_.c_str(), 1); }
    // What the stand-in was given, waiting up to 5 s for it to run.
    std::string opened() const {
        for (int i = 0; i < 500; ++i) {
            std::ifstream in(record_);
            if (in) {
                std::stringstream text;
                text << in.rdbuf();
                return text.str();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return "(not opened)";
    }

private:
    test_support::temp_dir dir_;
    std::string record_;
    std::string saved_path_;
};

TEST_F(dlg_update_test, the_link_opens_the_task_page_or_the_default_page) {
    {
        recording_opener opener;
        task->page_url = "http://lanxi.example/tool?from=update";
        post_click(window, L"downloadbtn");
        settle();
        EXPECT_EQ(opener.opened(), "http://lanxi.example/tool?from=update");
        EXPECT_EQ(bar_value(), 1) << "the link does not touch the download";
    }
    {
        recording_opener opener;
        task->page_url = "HTTPS://lanxi.example/tool";
        window.open_download_page();
        EXPECT_EQ(opener.opened(), "HTTPS://lanxi.example/tool") << "the scheme ignores case";
    }
    {
        recording_opener opener;
        window.task = nullptr;
        window.open_download_page();
        window.task = task.get();
        EXPECT_EQ(opener.opened(), DEFAULT_DOWNLOAD_PAGE);
        EXPECT_EQ(std::string(DEFAULT_DOWNLOAD_PAGE).size(), 34u);
    }
}
#endif

// The start message on the real window: the worker downloads from a server
// on 127.0.0.1 and its completion ends the loop.
class dlg_update_download : public ::testing::Test {
protected:
    void SetUp() override { reset_environment(); }
    void TearDown() override { reset_environment(); }
};

TEST_F(dlg_update_download, the_start_message_runs_the_worker_to_completion_or_to_the_retry_box) {
    test_support::test_server server;
    const std::string body(200000, 'p');
    server.server().Get("/pkg/tool_setup.bin", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/octet-stream");
    });
    ASSERT_TRUE(server.start());
    for (const bool reachable : {true, false}) {
        product_window product;
        std::unique_ptr<update_task> task = make_task(product.handle);
        task->package_url = reachable ? server.url("/pkg/tool_setup.bin") : "http://127.0.0.1:1/pkg/tool_setup.bin";
        dlg_update window;
        window.task = task.get();
        window.create(0, L"自动更新", 0x10CF0000, 0);
        modal_script::script script;
        bool asked = false;
        // A failure opens the retry box; Cancel ends the loop.
        std::function<void()> watch = [&] {
            if (skinui::current_message_box() != 0) {
                asked = true;
                modal_script::box_key(platform::VK_ESCAPE);
                return;
            }
            if (task->package_state.load() == package_none) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            script.later(watch);
        };
        if (!reachable) script.later(watch);
        window.show_modal();
        if (task->worker_thread.joinable()) task->worker_thread.join();
        EXPECT_EQ(task->package_state.load(), reachable ? package_ready : package_failed);
        EXPECT_EQ(asked, !reachable);
        EXPECT_EQ(task->progress_window, window.handle());
        if (reachable) {
            EXPECT_EQ(window.progress_bar->value(), 100);
            std::error_code ignored;
            EXPECT_EQ(std::filesystem::file_size(task->package_path, ignored), body.size());
            std::filesystem::remove(task->package_path, ignored);
        }
        platform::destroy_window(window.handle());
        quit_queued();
    }
}

}  // namespace
