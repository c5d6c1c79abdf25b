// The off-screen window display: creation messages, invalidation batching,
// presenting pixels, geometry, focus and destruction.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/message_queue.h"
#include "platform/offscreen/offscreen_display.h"
#include "platform/window.h"

namespace {

using platform::rect;

struct recorded {
    std::uint32_t id;
    platform::wparam w;
    platform::lparam l;
};

class recording_handler : public platform::message_handler {
public:
    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam w,
                                     platform::lparam l) override {
        seen.push_back({id, w, l});
        return 0;
    }
    int count(std::uint32_t id) const {
        int n = 0;
        for (const recorded& r : seen) n += r.id == id;
        return n;
    }
    std::vector<recorded> seen;
};

class offscreen_window_test : public ::testing::Test {
protected:
    void SetUp() override {
        drain();
        ASSERT_EQ(platform::current_display(), platform::display_kind::offscreen);
    }
    void TearDown() override {
        for (platform::window_handle w : made_) platform::destroy_window(w);
        drain();
    }

    // The handler lives in the fixture, so it outlives the window.
    platform::window_handle make(recording_handler*& handler, rect bounds = {10, 20, 110, 70},
                                 platform::window_handle owner = 0) {
        handlers_.push_back(std::make_unique<recording_handler>());
        handler = handlers_.back().get();
        platform::window_params params;
        params.class_name = L"TestWnd";
        params.title = L"test";
        params.bounds = bounds;
        params.owner = owner;
        platform::window_handle w = platform::create_window(params, handler);
        if (w != 0) made_.push_back(w);
        return w;
    }

    // Takes every queued message and counts the WM_PAINTs for window.
    static int queued_paints(platform::window_handle window) {
        int paints = 0;
        platform::message msg;
        while (platform::peek_message(msg)) paints += msg.window == window && msg.id == platform::WM_PAINT;
        return paints;
    }
    static void drain() { queued_paints(0); }

    std::vector<std::unique_ptr<recording_handler>> handlers_;
    std::vector<platform::window_handle> made_;
};

TEST_F(offscreen_window_test, creation_sends_nccreate_then_create_before_returning) {
    recording_handler* handler = nullptr;
    platform::window_handle w = make(handler);
    ASSERT_NE(w, 0u);
    ASSERT_EQ(handler->seen.size(), 2u);
    EXPECT_EQ(handler->seen[0].id, platform::WM_NCCREATE);
    EXPECT_EQ(handler->seen[1].id, platform::WM_CREATE);
    EXPECT_TRUE(platform::is_window(w));
    EXPECT_FALSE(platform::is_window_visible(w));
    EXPECT_EQ(platform::window_rect(w), (rect{10, 20, 110, 70}));
    EXPECT_EQ(platform::client_rect(w), (rect{0, 0, 100, 50}));
    EXPECT_EQ(platform::create_window({}, nullptr), 0u) << "a window needs a handler";
}

TEST_F(offscreen_window_test, one_paint_per_batch_of_invalidations_with_the_union_as_update_rect) {
    recording_handler* handler = nullptr;
    platform::window_handle w = make(handler);
    platform::show_window(w, platform::SW_SHOWNORMAL);
    EXPECT_EQ(queued_paints(w), 1) << "showing exposes the window once";
    EXPECT_EQ(platform::take_update_rect(w), (rect{0, 0, 100, 50}));

    const rect a{5, 5, 10, 10};
    const rect b{30, 2, 40, 8};
    const rect outside{90, 40, 200, 200};  // cut to the client area
    platform::invalidate_rect(w, &a);
    platform::invalidate_rect(w, &b);
    platform::invalidate_rect(w, &outside);
    EXPECT_EQ(queued_paints(w), 1);
    EXPECT_EQ(platform::take_update_rect(w), (rect{5, 2, 100, 50}));
    EXPECT_EQ(platform::take_update_rect(w), (rect{})) << "taking clears the update area";

    platform::invalidate_rect(w, &a);
    EXPECT_EQ(queued_paints(w), 1) << "after the area was taken a new invalidation posts again";
    platform::take_update_rect(w);

    const rect empty{20, 20, 20, 30};
    platform::invalidate_rect(w, &empty);
    EXPECT_EQ(queued_paints(w), 0) << "an empty area asks for nothing";
}

TEST_F(offscreen_window_test, hidden_window_collects_invalidations_and_paints_when_shown) {
    recording_handler* handler = nullptr;
    platform::window_handle w = make(handler);
    const rect a{1, 1, 4, 4};
    platform::invalidate_rect(w, &a);
    EXPECT_EQ(queued_paints(w), 0);
    platform::show_window(w, platform::SW_SHOWNORMAL);
    EXPECT_EQ(queued_paints(w), 1);
    EXPECT_EQ(platform::take_update_rect(w), (rect{0, 0, 100, 50}));
}

TEST_F(offscreen_window_test, present_copies_only_the_given_rectangle) {
    recording_handler* handler = nullptr;
    platform::window_handle w = make(handler, {0, 0, 8, 6});
    // A source wider than the window, with padding at the end of each row.
    const int width = 10, height = 6, stride_pixels = 12;
    std::vector<std::uint32_t> source(static_cast<std::size_t>(stride_pixels) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) source[y * stride_pixels + x] = 0xFF000000u | (y << 8) | x;

    platform::present(w, source.data(), width, height, stride_pixels * 4, {2, 1, 20, 3});
    platform::offscreen_image image = platform::offscreen_pixels(w);
    ASSERT_EQ(image.width, 8);
    ASSERT_EQ(image.height, 6);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && y >= 1 && y < 3;
            const std::uint32_t expected = inside ? source[y * stride_pixels + x] : 0u;
            EXPECT_EQ(image.pixels[y * 8 + x], expected) << "at " << x << "," << y;
        }
    }
    EXPECT_TRUE(platform::offscreen_pixels(0).pixels.empty());
}

TEST_F(offscreen_window_test, resizing_sends_wm_size_and_repaints_moving_does_not) {
    recording_handler* handler = nullptr;
    platform::window_handle w = make(handler);
    platform::show_window(w, platform::SW_SHOWNORMAL);
    queued_paints(w);
    platform::take_update_rect(w);

    platform::move_window(w, 50, 60, 100, 50);
    EXPECT_EQ(handler->count(platform::WM_SIZE), 0);
    EXPECT_EQ(queued_paints(w), 0);
    EXPECT_EQ(platform::window_rect(w), (rect{50, 60, 150, 110}));

    platform::move_window(w, 50, 60, 30, 20);
    ASSERT_EQ(handler->count(platform::WM_SIZE), 1);
    EXPECT_EQ(handler->seen.back().l, platform::lparam{(20 << 16) | 30});
    EXPECT_EQ(queued_paints(w), 1);
    EXPECT_EQ(platform::take_update_rect(w), (rect{0, 0, 30, 20}));
    platform::offscreen_image image = platform::offscreen_pixels(w);
    EXPECT_EQ(image.width, 30);
    EXPECT_EQ(image.height, 20);
    EXPECT_EQ(image.pixels.size(), 600u);
}

TEST_F(offscreen_window_test, state_flags_owner_and_plain_input_state) {
    recording_handler *owner_handler = nullptr, *handler = nullptr;
    platform::window_handle owner = make(owner_handler);
    platform::window_handle w = make(handler, {0, 0, 10, 10}, owner);
    ASSERT_NE(w, 0u);
    EXPECT_EQ(platform::owner_of(w), owner);
    EXPECT_EQ(platform::owner_of(owner), 0u);

    platform::enable_window(owner, false);
    EXPECT_FALSE(platform::is_window_enabled(owner));
    platform::enable_window(owner, true);
    EXPECT_TRUE(platform::is_window_enabled(owner));

    platform::minimize_window(w);
    EXPECT_TRUE(platform::is_minimized(w));
    platform::show_window(w, platform::SW_SHOWNORMAL);
    EXPECT_FALSE(platform::is_minimized(w));

    platform::set_capture(w);
    EXPECT_EQ(platform::get_capture(), w);
    platform::release_capture();
    EXPECT_EQ(platform::get_capture(), 0u);

    platform::set_cursor(platform::cursor_kind::hand);
    EXPECT_EQ(platform::current_cursor(), platform::cursor_kind::hand);
    platform::set_cursor(platform::cursor_kind::arrow);

    platform::begin_window_drag(w, {7, 9});
    platform::offscreen_window_state state;
    ASSERT_TRUE(platform::offscreen_window_info(w, state));
    EXPECT_EQ(state.drag_count, 1);
    EXPECT_EQ(state.last_drag_point, (platform::point{7, 9}));

    platform::set_offscreen_work_area({0, 0, 800, 600});
    EXPECT_EQ(platform::work_area_near(w), (rect{0, 0, 800, 600}));
    platform::set_offscreen_work_area({0, 0, 1280, 800});
}

TEST_F(offscreen_window_test, focus_change_notifies_both_windows) {
    recording_handler *first_handler = nullptr, *second_handler = nullptr;
    platform::window_handle first = make(first_handler);
    platform::window_handle second = make(second_handler);
    platform::set_focus(first);
    EXPECT_EQ(first_handler->count(platform::WM_SETFOCUS), 1);
    platform::set_focus(second);
    EXPECT_EQ(platform::get_focus(), second);
    EXPECT_EQ(first_handler->count(platform::WM_KILLFOCUS), 1);
    ASSERT_EQ(second_handler->count(platform::WM_SETFOCUS), 1);
    EXPECT_EQ(second_handler->seen.back().w, first) << "WM_SETFOCUS names the window that lost the focus";
    platform::set_focus(second);
    EXPECT_EQ(second_handler->count(platform::WM_SETFOCUS), 1) << "no message when the focus stays";
}

TEST_F(offscreen_window_test, destroying_sends_destroy_messages_and_forgets_the_window) {
    recording_handler* handler = nullptr;
    platform::window_handle w = make(handler, {0, 0, 10, 10});
    ASSERT_NE(w, 0u);
    made_.clear();  // destroyed here
    platform::set_capture(w);
    platform::set_focus(w);
    platform::destroy_window(w);
    EXPECT_EQ(handler->seen[handler->seen.size() - 2].id, platform::WM_DESTROY);
    EXPECT_EQ(handler->seen.back().id, platform::WM_NCDESTROY);
    EXPECT_FALSE(platform::is_window(w));
    EXPECT_FALSE(platform::is_registered_window(w));
    EXPECT_EQ(platform::get_capture(), 0u);
    EXPECT_EQ(platform::get_focus(), 0u);
    EXPECT_FALSE(platform::post_message(w, platform::WM_PAINT, 0, 0));
    platform::invalidate_rect(w, nullptr);  // harmless on a dead handle
    EXPECT_EQ(platform::window_rect(w), (rect{}));
}

TEST(window_display_test, tick_count_does_not_go_backwards) {
    const std::uint64_t first = platform::tick_count();
    EXPECT_GE(platform::tick_count(), first);
}

}  // namespace
