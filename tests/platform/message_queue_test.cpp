// Tests of the per-thread message queues, posting from other threads and
// dispatch to window handlers.
#include "platform/message_queue.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

using platform::message;

struct recorded {
    platform::window_handle window;
    std::uint32_t id;
    platform::wparam w;
    platform::lparam l;
    friend bool operator==(const recorded&, const recorded&) = default;
};

class recording_handler : public platform::message_handler {
public:
    platform::lresult handle_message(platform::window_handle window, std::uint32_t id, platform::wparam w,
                                     platform::lparam l) override {
        calls.push_back({window, id, w, l});
        return static_cast<platform::lresult>(id) + 1000;
    }
    std::vector<recorded> calls;
};

// The gtest thread's queue lives across tests; each test starts and ends empty.
class message_queue : public ::testing::Test {
protected:
    void SetUp() override { drain(); }
    void TearDown() override {
        drain();
        for (platform::window_handle w : windows_) platform::unregister_window(w);
    }
    static void drain() {
        message msg;
        while (platform::peek_message(msg)) {
        }
    }
    platform::window_handle make_window(platform::message_handler* handler) {
        windows_.push_back(platform::register_window(handler));
        return windows_.back();
    }

private:
    std::vector<platform::window_handle> windows_;
};

TEST_F(message_queue, messages_come_in_posting_order_and_quit_ends_the_loop) {
    recording_handler handler;
    const auto a = make_window(&handler);
    const auto b = make_window(&handler);
    ASSERT_TRUE(platform::post_message(a, platform::WM_USER + 100, 1, -1));
    ASSERT_TRUE(platform::post_message(b, platform::WM_USER + 101, 2, 0));
    platform::post_quit_message(7);
    ASSERT_TRUE(platform::post_message(a, platform::WM_USER + 102, 3, 0));

    message msg;
    std::vector<recorded> got;
    while (platform::get_message(msg)) got.push_back({msg.window, msg.id, msg.w, msg.l});
    // As on Windows, WM_QUIT waits until the posted messages are taken, also
    // those posted after it.
    const std::vector<recorded> expected = {
        {a, platform::WM_USER + 100, 1, -1}, {b, platform::WM_USER + 101, 2, 0}, {a, platform::WM_USER + 102, 3, 0}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(msg.id, platform::WM_QUIT);
    EXPECT_EQ(msg.window, 0u);
    EXPECT_EQ(msg.w, 7u) << "the exit code";

    platform::post_quit_message(1);
    platform::post_quit_message(2);
    ASSERT_FALSE(platform::get_message(msg));
    EXPECT_EQ(msg.w, 2u) << "a second quit renews the first";
    EXPECT_FALSE(platform::peek_message(msg)) << "and comes once";
}

TEST_F(message_queue, dispatch_and_send_reach_the_handler) {
    recording_handler handler;
    const auto window = make_window(&handler);
    ASSERT_TRUE(platform::post_message(window, platform::WM_PAINT, 0, 0));
    message msg;
    ASSERT_TRUE(platform::peek_message(msg));
    EXPECT_EQ(platform::dispatch_message(msg), platform::WM_PAINT + 1000);
    EXPECT_EQ(platform::send_message(window, platform::WM_SIZE, 5, 6), platform::WM_SIZE + 1000);
    const std::vector<recorded> expected = {{window, platform::WM_PAINT, 0, 0}, {window, platform::WM_SIZE, 5, 6}};
    EXPECT_EQ(handler.calls, expected);

    platform::unregister_window(window);
    EXPECT_FALSE(platform::is_registered_window(window));
    EXPECT_EQ(platform::send_message(window, platform::WM_SIZE, 0, 0), 0);
    EXPECT_EQ(platform::dispatch_message(msg), 0);
    EXPECT_EQ(platform::dispatch_message(message{0, platform::WM_QUIT, 0, 0}), 0);
    EXPECT_EQ(handler.calls.size(), 2u);
}

TEST_F(message_queue, wait_message_times_out_and_reports_quit_as_a_message) {
    message msg;
    msg.id = platform::WM_PAINT;
    EXPECT_FALSE(platform::wait_message(msg, 20));
    EXPECT_EQ(msg.id, platform::WM_NULL);
    EXPECT_FALSE(platform::wait_message(msg, 0));
    EXPECT_FALSE(platform::peek_message(msg));

    platform::post_quit_message(0);
    EXPECT_TRUE(platform::wait_message(msg, 1000));
    EXPECT_EQ(msg.id, platform::WM_QUIT);
}

TEST_F(message_queue, handles_are_unique_and_never_reused) {
    recording_handler handler;
    std::set<platform::window_handle> seen;
    for (int i = 0; i < 100; ++i) {
        const auto window = platform::register_window(&handler);
        EXPECT_NE(window, 0u);
        EXPECT_TRUE(seen.insert(window).second) << "handle " << window << " given twice";
        platform::unregister_window(window);
    }
    // A backend's handle (an X11 id) is taken once.
    constexpr platform::window_handle X_ID = 0x01200005;
    EXPECT_TRUE(platform::register_window_handle(X_ID, &handler));
    EXPECT_FALSE(platform::register_window_handle(X_ID, &handler));
    EXPECT_FALSE(platform::register_window_handle(0, &handler));
    EXPECT_TRUE(platform::post_message(X_ID, platform::WM_CLOSE, 0, 0));
    message msg;
    ASSERT_TRUE(platform::peek_message(msg));
    EXPECT_EQ(msg.window, X_ID);
    platform::unregister_window(X_ID);
}

TEST_F(message_queue, posting_to_a_handle_not_of_this_process_fails) {
    recording_handler handler;
    const auto window = make_window(&handler);
    platform::unregister_window(window);
    const platform::window_handle unknown[] = {0, window, 0x1FFFFFF0, ~platform::window_handle{0}};
    for (platform::window_handle w : unknown) {
        EXPECT_FALSE(platform::post_message(w, platform::WM_USER, 0, 0)) << "handle " << w;
    }
    message msg;
    EXPECT_FALSE(platform::peek_message(msg)) << "nothing was queued";
}

TEST_F(message_queue, windows_of_an_ended_thread_are_gone) {
    recording_handler handler;
    platform::window_handle window = 0;
    std::thread([&] { window = platform::register_window(&handler); }).join();
    EXPECT_FALSE(platform::is_registered_window(window));
    EXPECT_FALSE(platform::post_message(window, platform::WM_USER, 0, 0));
}

TEST_F(message_queue, another_thread_posts_thousands_in_order) {
    constexpr platform::wparam COUNT = 50000;
    recording_handler handler;
    const auto window = make_window(&handler);
    std::atomic<bool> all_posted{true};
    std::jthread poster([&] {
        for (platform::wparam i = 0; i < COUNT; ++i) {
            if (!platform::post_message(window, platform::WM_USER + 100, i, 0)) all_posted = false;
        }
        platform::post_message(window, platform::WM_USER + 101, 0, 0);
    });
    message msg;
    platform::wparam expected = 0;
    while (platform::get_message(msg) && msg.id == platform::WM_USER + 100) {
        ASSERT_EQ(msg.w, expected) << "out of order";
        ++expected;
    }
    poster.join();
    EXPECT_EQ(msg.id, platform::WM_USER + 101);
    EXPECT_EQ(expected, COUNT);
    EXPECT_TRUE(all_posted);
}

TEST_F(message_queue, owner_blocked_in_get_message_wakes_for_a_post) {
    recording_handler handler;
    const auto window = make_window(&handler);
    for (int round = 0; round < 50; ++round) {
        std::jthread poster([&] { platform::post_message(window, platform::WM_USER + 1, round, 0); });
        message msg;
        ASSERT_TRUE(platform::get_message(msg));
        EXPECT_EQ(msg.w, static_cast<platform::wparam>(round));
        poster.join();
    }
}

// An event source on a pipe: each byte becomes one message. It may also hold
// events it has read already, as Xlib does.
class pipe_source : public platform::event_source {
public:
    explicit pipe_source(platform::window_handle window) : window_(window) {
        if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    }
    ~pipe_source() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    int descriptor() const override { return fds_[0]; }
    void pump() override {
        ++pumps;
        for (; buffered > 0; --buffered) platform::post_message(window_, platform::WM_USER + 2, 0, 0);
        pollfd_ready_read();
    }
    void write_byte(char c) { EXPECT_EQ(::write(fds_[1], &c, 1), 1); }
    int buffered = 0;
    int pumps = 0;

private:
    void pollfd_ready_read() {
        // Reads only what is there: the pipe is checked with a zero-time poll.
        pollfd entry{fds_[0], POLLIN, 0};
        while (::poll(&entry, 1, 0) == 1) {
            char c = 0;
            if (::read(fds_[0], &c, 1) != 1) return;
            platform::post_message(window_, platform::WM_USER + 3, static_cast<unsigned char>(c), 0);
        }
    }
    platform::window_handle window_;
    int fds_[2];
};

TEST_F(message_queue, event_sources_are_waited_on_and_pumped) {
    recording_handler handler;
    const auto window = make_window(&handler);
    pipe_source source(window);
    platform::add_event_source(&source);

    std::jthread writer([&] { source.write_byte('x'); });
    message msg;
    ASSERT_TRUE(platform::get_message(msg));
    writer.join();
    EXPECT_EQ(msg.id, platform::WM_USER + 3);
    EXPECT_EQ(msg.w, static_cast<platform::wparam>('x'));

    // Events a source already holds are taken before the thread blocks.
    source.buffered = 1;
    ASSERT_TRUE(platform::wait_message(msg, 5000));
    EXPECT_EQ(msg.id, platform::WM_USER + 2);

    platform::remove_event_source(&source);
    const int pumps = source.pumps;
    source.write_byte('y');
    EXPECT_FALSE(platform::wait_message(msg, 20)) << "a removed source is no longer pumped";
    EXPECT_EQ(source.pumps, pumps);
}

}  // namespace
