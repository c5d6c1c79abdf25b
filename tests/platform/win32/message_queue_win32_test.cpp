// Tests of the window messages on the thread's own Win32 queue: posting from
// other threads, WM_QUIT, time-outs, sending across threads, another
// program's window and event sources on kernel handles.
// The Win32 headers are in view here, so the message names are theirs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/foreign_window.h"
#include "platform/message_queue.h"
#include "win32_test_support.h"

namespace {

constexpr std::uint32_t WM_TEST = WM_USER + 7;

class recording_handler : public platform::message_handler {
public:
    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam w,
                                     platform::lparam l) override {
        ids.push_back(id);
        thread = ::GetCurrentThreadId();
        return static_cast<platform::lresult>(w) + l;
    }
    std::vector<std::uint32_t> ids;
    DWORD thread = 0;
};

TEST(win32_message_queue, a_post_from_another_thread_wakes_the_owner_in_order) {
    recording_handler handler;
    const platform::window_handle window = platform::register_window(&handler);
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(::IsWindow(reinterpret_cast<HWND>(window))) << "a message-only window of our own";
    std::thread poster([window] {
        ::Sleep(50);
        for (std::uint32_t i = 0; i < 3; ++i) EXPECT_TRUE(platform::post_message(window, WM_TEST + i, i, 0));
    });
    platform::message msg;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(platform::get_message(msg));
        EXPECT_EQ(msg.window, window);
        platform::dispatch_message(msg);
    }
    poster.join();
    EXPECT_EQ(handler.ids, (std::vector<std::uint32_t>{WM_TEST, WM_TEST + 1, WM_TEST + 2}));
    EXPECT_EQ(handler.thread, ::GetCurrentThreadId()) << "handled on the owner's thread";
    platform::unregister_window(window);
    EXPECT_FALSE(platform::is_registered_window(window));
    EXPECT_FALSE(::IsWindow(reinterpret_cast<HWND>(window)));
}

TEST(win32_message_queue, quit_ends_get_message_with_its_code) {
    platform::post_quit_message(5);
    platform::message msg;
    EXPECT_FALSE(platform::get_message(msg));
    EXPECT_EQ(msg.id, WM_QUIT);
    EXPECT_EQ(msg.w, 5u);
}

TEST(win32_message_queue, wait_message_gives_up_after_its_time_out) {
    platform::message msg;
    msg.id = WM_TEST;
    const DWORD before = ::GetTickCount();
    EXPECT_FALSE(platform::wait_message(msg, 100));
    EXPECT_EQ(msg.id, WM_NULL);
    EXPECT_GE(::GetTickCount() - before, 90u);
    EXPECT_FALSE(platform::peek_message(msg)) << "nothing queued";
    platform::post_quit_message(0);
    EXPECT_TRUE(platform::wait_message(msg, 100)) << "WM_QUIT is a message here";
    EXPECT_EQ(msg.id, WM_QUIT);
}

TEST(win32_message_queue, posts_fail_for_no_window_and_for_a_window_whose_thread_ended) {
    EXPECT_FALSE(platform::post_message(0, WM_TEST, 0, 0));
    recording_handler handler;
    platform::window_handle window = 0;
    std::thread owner([&] { window = platform::register_window(&handler); });
    owner.join();
    ASSERT_NE(window, 0u);
    EXPECT_FALSE(platform::is_registered_window(window)) << "forgotten with its thread";
    EXPECT_FALSE(platform::post_message(window, WM_TEST, 0, 0));
}

TEST(win32_message_queue, send_across_threads_runs_on_the_owner_and_returns_its_result) {
    recording_handler handler;
    const platform::window_handle window = platform::register_window(&handler);
    std::atomic<platform::lresult> result{0};
    std::thread sender([&] { result = platform::send_message(window, WM_TEST, 40, 2); });
    // The owner handles sent messages while it waits for its queue.
    platform::message msg;
    EXPECT_TRUE(win32_test::eventually([&] {
        platform::wait_message(msg, 10);
        return result.load() != 0;
    }));
    sender.join();
    EXPECT_EQ(result.load(), 42);
    EXPECT_EQ(handler.thread, ::GetCurrentThreadId());
    EXPECT_EQ(platform::send_message(window + 4, WM_TEST, 1, 1), 0) << "an unknown window";
    platform::unregister_window(window);
}

// Another program's window gets the private quit message through the same
// post_message call.
TEST(win32_message_queue, another_programs_window_is_reached_only_through_the_foreign_route) {
    constexpr std::uint32_t QUIT = WM_USER + 321;
    win32_test::child_process product(TEST_CHILD_PATH, {"window", std::to_string(QUIT), "obey"});
    const std::string line = product.read_line();
    const platform::window_handle window = std::stoull(line.empty() ? "0" : line);
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(platform::foreign_window_exists(window));
    EXPECT_FALSE(platform::is_registered_window(window));
    EXPECT_FALSE(platform::post_message(window, QUIT, 0, 0)) << "post_message serves this process's windows";
    EXPECT_TRUE(platform::post_foreign_message(window, QUIT, 0, 0));
    EXPECT_TRUE(product.exited(10000)) << "the product quit on its message";
    EXPECT_TRUE(win32_test::eventually([&] { return !platform::foreign_window_exists(window); }));
    EXPECT_FALSE(platform::post_foreign_message(window, QUIT, 0, 0)) << "its window is gone";
}

// An event source's descriptor is a waitable handle on Windows; a manual-reset
// event, since the wait must not consume what the source's pump then reads.
class event_source_on_handle : public platform::event_source {
public:
    explicit event_source_on_handle(platform::window_handle window)
        : window_(window), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~event_source_on_handle() override { ::CloseHandle(event_); }
    int descriptor() const override { return static_cast<int>(reinterpret_cast<std::intptr_t>(event_)); }
    void pump() override {
        if (::WaitForSingleObject(event_, 0) != WAIT_OBJECT_0) return;
        ::ResetEvent(event_);
        platform::post_message(window_, WM_TEST, 9, 0);
    }
    void signal() { ::SetEvent(event_); }

private:
    platform::window_handle window_;
    HANDLE event_;
};

TEST(win32_message_queue, a_ready_event_source_wakes_get_message) {
    recording_handler handler;
    const platform::window_handle window = platform::register_window(&handler);
    event_source_on_handle source(window);
    platform::add_event_source(&source);
    std::thread signaller([&] {
        ::Sleep(50);
        source.signal();
    });
    platform::message msg;
    ASSERT_TRUE(platform::wait_message(msg, 5000));
    EXPECT_EQ(msg.id, WM_TEST);
    EXPECT_EQ(msg.w, 9u);
    signaller.join();
    platform::remove_event_source(&source);
    platform::unregister_window(window);
}

}  // namespace
