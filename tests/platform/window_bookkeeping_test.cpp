// The bookkeeping that every display backend shares: the update area with
// its one pending WM_PAINT, disabled windows dropping input, capture and focus.
#include <gtest/gtest.h>

#include <vector>

#include "platform/message_queue.h"
#include "platform/window_backend.h"

namespace {

using namespace platform;

class recorder : public message_handler {
public:
    lresult handle_message(window_handle, std::uint32_t id, wparam w, lparam) override {
        sent.push_back({id, w});
        return 0;
    }
    std::vector<std::pair<std::uint32_t, wparam>> sent;
};

// Takes every queued message of this thread without dispatching it.
std::vector<message> drain() {
    std::vector<message> queued;
    message msg;
    while (peek_message(msg)) queued.push_back(msg);
    return queued;
}

class bookkeeping : public ::testing::Test {
protected:
    void SetUp() override {
        drain();
        window_ = register_window(&handler_);
        book_.add(window_, {200, 100}, true);
    }
    void TearDown() override {
        book_.remove(window_);
        unregister_window(window_);
        drain();
    }

    int queued_paints() {
        int count = 0;
        for (const message& m : drain()) count += m.id == WM_PAINT && m.window == window_ ? 1 : 0;
        return count;
    }

    recorder handler_;
    window_bookkeeping book_;
    window_handle window_ = 0;
};

TEST_F(bookkeeping, invalidations_post_one_paint_until_the_area_is_taken) {
    struct case_t {
        const char* name;
        std::vector<rect> areas;  // empty rect: the whole client area (null)
        rect update;
    };
    const case_t cases[] = {
        {"two parts", {{10, 10, 20, 20}, {50, 40, 60, 90}}, {10, 10, 60, 90}},
        {"clipped to the client area", {{150, 50, 400, 300}}, {150, 50, 200, 100}},
        {"outside the client area", {{300, 300, 310, 310}}, {}},
        {"whole window", {{}}, {0, 0, 200, 100}},
    };
    for (const case_t& c : cases) {
        for (const rect& area : c.areas) book_.invalidate(window_, area.empty() ? nullptr : &area);
        // Once more: still one WM_PAINT.
        book_.invalidate(window_, c.areas.front().empty() ? nullptr : &c.areas.front());
        EXPECT_EQ(queued_paints(), c.update.empty() ? 0 : 1) << c.name;
        EXPECT_EQ(book_.take_update(window_), c.update) << c.name;
        // Once taken, the next invalidation posts again.
        book_.invalidate(window_, nullptr);
        EXPECT_EQ(queued_paints(), 1) << c.name;
        book_.take_update(window_);
    }
}

TEST_F(bookkeeping, a_hidden_window_keeps_its_area_and_paints_when_shown) {
    book_.set_visible(window_, false);
    const rect area{5, 5, 15, 15};
    book_.invalidate(window_, &area);
    EXPECT_EQ(queued_paints(), 0);
    book_.set_visible(window_, true);
    EXPECT_EQ(queued_paints(), 1);
    EXPECT_EQ(book_.take_update(window_), (rect{0, 0, 200, 100})) << "appearing exposes the whole window";
}

TEST_F(bookkeeping, a_disabled_window_drops_input_and_hears_wm_enable_once_per_change) {
    EXPECT_TRUE(book_.post_input(window_, WM_LBUTTONDOWN, 0, 0));
    book_.set_capture(window_);
    ASSERT_TRUE(book_.set_enabled(window_, false));
    ASSERT_TRUE(book_.set_enabled(window_, false));
    EXPECT_EQ(book_.capture(), 0u) << "a disabled window loses the capture";
    drain();
    for (std::uint32_t id : {WM_LBUTTONDOWN, WM_KEYDOWN, WM_CHAR, WM_MOUSEMOVE, WM_SYSCOMMAND}) {
        EXPECT_FALSE(book_.post_input(window_, id, 0, 0)) << id;
    }
    EXPECT_TRUE(drain().empty());
    book_.set_capture(window_);
    EXPECT_EQ(book_.capture(), 0u) << "no capture while disabled";
    // Painting is no input: a disabled window still paints.
    book_.invalidate(window_, nullptr);
    EXPECT_EQ(queued_paints(), 1);
    ASSERT_TRUE(book_.set_enabled(window_, true));
    EXPECT_TRUE(book_.post_input(window_, WM_KEYDOWN, VK_RETURN, 0));
    const std::vector<std::pair<std::uint32_t, wparam>> enables{{WM_ENABLE, 0}, {WM_ENABLE, 1}};
    EXPECT_EQ(handler_.sent, enables);
    EXPECT_FALSE(book_.set_enabled(window_ + 1000, false)) << "unknown window";
}

TEST_F(bookkeeping, focus_moves_send_killfocus_then_setfocus) {
    recorder other_handler;
    const window_handle other = register_window(&other_handler);
    book_.add(other, {10, 10}, true);
    book_.set_focus(window_);
    book_.set_focus(window_);  // no change, no message
    book_.set_focus(other);
    book_.set_focus(0);
    const std::vector<std::pair<std::uint32_t, wparam>> first{{WM_SETFOCUS, 0}, {WM_KILLFOCUS, other}};
    const std::vector<std::pair<std::uint32_t, wparam>> second{{WM_SETFOCUS, window_}, {WM_KILLFOCUS, 0}};
    EXPECT_EQ(handler_.sent, first);
    EXPECT_EQ(other_handler.sent, second);
    book_.set_focus(other);
    book_.remove(other);
    EXPECT_EQ(book_.focus(), 0u) << "a removed window holds no focus";
    unregister_window(other);
}

}  // namespace
