// Tests of the operations on another program's X11 window, against a window
// this test creates on its own connection.
#include "platform/foreign_window.h"

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
// clang-format on
#include <poll.h>

#include <cstdlib>
#include <functional>

#include "platform/message_queue.h"
#include "tests/support/eventually.h"

namespace {

// One connection and one small unmapped top-level window of "the product".
class product_window : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
        // A busy server may refuse a connection for a moment.
        ASSERT_TRUE(test_support::eventually([&] { return (display_ = XOpenDisplay(nullptr)) != nullptr; }));
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 40, 30, 0, 0, 0);
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
        XSync(display_, False);
    }
    void TearDown() override {
        if (display_ != nullptr) XCloseDisplay(display_);
    }

    // Waits (at most 10 s) for an event that matches; true when one came.
    bool next_event(XEvent& event, const std::function<bool(const XEvent&)>& wanted) {
        return test_support::eventually([&] {
            while (XPending(display_) > 0) {
                XNextEvent(display_, &event);
                if (wanted(event)) return true;
            }
            pollfd entry{ConnectionNumber(display_), POLLIN, 0};
            ::poll(&entry, 1, 10);
            return false;
        });
    }

    Atom atom(const char* name) { return XInternAtom(display_, name, False); }

    Display* display_ = nullptr;
    Window window_ = 0;
};

TEST_F(product_window, receives_the_private_message_with_its_data) {
    EXPECT_TRUE(platform::foreign_window_exists(window_));
    ASSERT_TRUE(platform::post_foreign_message(window_, 0xC123, 7, -5));
    XEvent event{};
    ASSERT_TRUE(
        next_event(event, [&](const XEvent& e) { return e.type == ClientMessage && e.xclient.window == window_; }));
    EXPECT_EQ(event.xclient.message_type, atom("_TAMSA_WINDOW_MESSAGE"));
    EXPECT_EQ(event.xclient.format, 32);
    EXPECT_EQ(event.xclient.data.l[0], 0xC123);
    EXPECT_EQ(event.xclient.data.l[1], 7);
    EXPECT_EQ(event.xclient.data.l[2], -5);
}

TEST_F(product_window, is_reached_only_through_the_foreign_route) {
    ASSERT_FALSE(platform::is_registered_window(window_));
    EXPECT_FALSE(platform::post_message(window_, 0x8001, 0, 0)) << "post_message serves this process's windows";
    ASSERT_TRUE(platform::post_foreign_message(window_, 0x8002, 0, 0));
    XEvent event{};
    ASSERT_TRUE(
        next_event(event, [&](const XEvent& e) { return e.type == ClientMessage && e.xclient.window == window_; }));
    EXPECT_EQ(event.xclient.data.l[0], 0x8002) << "only the foreign post arrived";
}

TEST_F(product_window, show_and_raise_maps_it_and_asks_for_activation) {
    platform::show_and_raise_foreign_window(window_);
    XEvent event{};
    ASSERT_TRUE(next_event(event, [&](const XEvent& e) {
        return e.type == ClientMessage && e.xclient.message_type == atom("_NET_ACTIVE_WINDOW");
    }));
    EXPECT_EQ(event.xclient.window, window_);
    EXPECT_EQ(event.xclient.data.l[0], 2) << "source indication";
    XWindowAttributes attributes{};
    ASSERT_NE(XGetWindowAttributes(display_, window_, &attributes), 0);
    EXPECT_EQ(attributes.map_state, IsViewable);
}

int test_error_handler(Display*, XErrorEvent*) {
    return 0;
}

TEST_F(product_window, a_destroyed_window_fails_quietly_and_handlers_are_restored) {
    XDestroyWindow(display_, window_);
    XSync(display_, False);
    const XErrorHandler before = XSetErrorHandler(test_error_handler);
    EXPECT_FALSE(platform::foreign_window_exists(window_));
    EXPECT_FALSE(platform::post_foreign_message(window_, 1, 0, 0));
    platform::show_and_raise_foreign_window(window_);  // must not end the process
    EXPECT_EQ(XSetErrorHandler(before), test_error_handler) << "the caller's error handler was not restored";
    EXPECT_FALSE(platform::foreign_window_exists(0));
    EXPECT_FALSE(platform::post_foreign_message(0x7FFFFFFF, 1, 0, 0)) << "not an X id";
}

}  // namespace
