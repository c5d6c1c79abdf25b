// Painting of the controls into an off-screen surface: the progress fill,
// button state images, label colours and the clipping of boxes.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "render_test_support.h"
#include "tests/support/print.h"
#include "toolkit/button.h"
#include "toolkit/container.h"
#include "toolkit/label.h"
#include "toolkit/layout_builder.h"
#include "toolkit/paint_manager.h"
#include "toolkit/progress.h"
#include "toolkit/skin_resources.h"

namespace {

using platform::rect;
using render_test::hex;
using namespace skinui;

constexpr pixel RED = 0xFFFF0000;
constexpr pixel GREEN = 0xFF00FF00;
constexpr pixel BLUE = 0xFF0000FF;
constexpr pixel BLACK = 0xFF000000;

// Solid images in a skin folder of the test's own, and a tree built from markup.
class control_paint : public ::testing::Test {
protected:
    void SetUp() override {
        render_test::write_png(dir_.path() / "red.png", 4, 4, [](int, int) {
            return render_test::rgba{255, 0, 0, 255};
        });
        render_test::write_png(dir_.path() / "green.png", 4, 4, [](int, int) {
            return render_test::rgba{0, 255, 0, 255};
        });
        render_test::write_png(dir_.path() / "blue.png", 496, 12, [](int, int) {
            return render_test::rgba{0, 0, 255, 255};
        });
        clear_resource_zip();
        set_resource_path(dir_.wide());
    }

    control* build(const std::wstring& body, rect client) {
        layout_builder builder;
        auto root = builder.create(L"<Window>" + body + L"</Window>", manager_);
        if (!root) return nullptr;
        control* top = root.get();
        manager_.attach_dialog(std::move(root));
        top->set_pos(client, false);
        bits_ = render_test::filled(client.width(), client.height(), BLACK);
        paint_target target{bits_, bits_.bounds()};
        top->paint(target, bits_.bounds());
        return top;
    }
    control* named(std::wstring_view name) { return manager_.find_control(name); }
    pixel at(int x, int y) const { return bits_.at(x, y); }

    render_test::temp_dir dir_;
    paint_manager manager_;
    surface bits_;
};

TEST(progress_fill, follows_the_value_in_integer_arithmetic) {
    struct fill_case {
        int min, max, value;
        bool horizontal;
        rect expected;
    };
    const fill_case cases[] = {
        {0, 100, 1, true, {0, 0, 4, 14}},  // 498 * 1 / 100, truncated
        {0, 100, 100, true, {0, 0, 498, 14}},
        {0, 100, 0, true, {0, 0, 0, 14}},
        {10, 20, 15, true, {0, 0, 249, 14}},
        {50, 50, 50, true, {0, 0, 0, 14}},      // an empty range becomes min..min+1
        {0, 100, 25, false, {0, 10, 498, 14}},  // vertical bars fill from the bottom
        {0, 1000000, 999999, true, {0, 0, 497, 14}},
    };
    for (const fill_case& c : cases) {
        progress bar;
        bar.set_max_value(c.max);
        bar.set_min_value(c.min);
        bar.set_value(c.value);
        bar.set_horizontal(c.horizontal);
        bar.set_pos({46, 139, 544, 153}, false);
        EXPECT_EQ(bar.fill_rect(), c.expected) << c.min << ".." << c.max << " value " << c.value;
    }
}

TEST_F(control_paint, progress_squeezes_the_fore_image_into_the_fill) {
    ASSERT_NE(build(L"<VerticalLayout><Progress name=\"p\" float=\"true\" pos=\"46,139,0,0\" width=\"498\" "
                    L"height=\"14\" bkimage=\"red.png\" foreimage=\"blue.png\" value=\"1\"/></VerticalLayout>",
                    {0, 0, 586, 280}),
              nullptr);
    EXPECT_EQ(at(46, 140), BLUE) << hex(at(46, 140));
    EXPECT_EQ(at(49, 152), BLUE) << hex(at(49, 152));
    EXPECT_EQ(at(50, 140), RED) << hex(at(50, 140)) << ": the fill is 4 px wide";
    EXPECT_EQ(at(543, 152), RED) << hex(at(543, 152));
    EXPECT_EQ(at(45, 140), BLACK) << hex(at(45, 140));
    EXPECT_EQ(at(46, 153), BLACK) << hex(at(46, 153));
}

TEST_F(control_paint, button_falls_back_to_its_normal_image_in_every_state) {
    ASSERT_NE(build(L"<HorizontalLayout><Button name=\"a\" width=\"10\" normalimage=\"green.png\"/>"
                    L"<Button name=\"b\" width=\"10\" normalimage=\"green.png\" hotimage=\"missing.png\" "
                    L"pushedimage=\"red.png\"/></HorizontalLayout>",
                    {0, 0, 20, 10}),
              nullptr);
    auto* a = static_cast<button*>(named(L"a"));
    auto* b = static_cast<button*>(named(L"b"));
    struct state_case {
        ui_event_kind kind;
        pixel a_pixel;
        pixel b_pixel;
    };
    const state_case cases[] = {
        {ui_event_kind::mouse_move, GREEN, GREEN},
        {ui_event_kind::mouse_enter, GREEN, GREEN},  // hot: the missing hot image falls back
        {ui_event_kind::button_down, GREEN, RED},    // pushed
    };
    for (const state_case& c : cases) {
        for (button* target : {a, b}) {
            ui_event event;
            event.kind = c.kind;
            event.mouse_pos = {(target->pos().left + target->pos().right) / 2, 5};
            target->do_event(event);
        }
        bits_ = render_test::filled(20, 10, BLACK);
        paint_target target{bits_, bits_.bounds()};
        manager_.root()->paint(target, bits_.bounds());
        EXPECT_EQ(at(5, 5), c.a_pixel) << hex(at(5, 5)) << " in state " << a->state();
        EXPECT_EQ(at(15, 5), c.b_pixel) << hex(at(15, 5)) << " in state " << b->state();
    }
}

TEST_F(control_paint, label_takes_the_window_colours_at_its_first_painting) {
    ASSERT_NE(build(L"<VerticalLayout><Label name=\"l\" text=\"Hello\" height=\"20\"/><Label name=\"e\" "
                    L"bkimage=\"green.png\" height=\"10\"/><Label name=\"c\" text=\"x\" textcolor=\"#FF112233\" "
                    L"height=\"20\"/></VerticalLayout>",
                    {0, 0, 100, 50}),
              nullptr);
    auto* l = static_cast<label*>(named(L"l"));
    EXPECT_EQ(l->text_color(), 0xFF000000u);
    EXPECT_EQ(l->disabled_text_color(), 0xFFA7A6AAu);
    EXPECT_EQ(static_cast<label*>(named(L"c"))->text_color(), 0xFF112233u);
    EXPECT_EQ(at(50, 25), GREEN) << "an empty label still draws its background";
}

TEST_F(control_paint, boxes_clip_stacked_children_to_the_inset_and_floating_ones_to_the_box) {
    ASSERT_NE(build(L"<VerticalLayout inset=\"10,10,10,10\"><Control name=\"tall\" height=\"100\" "
                    L"bkimage=\"green.png\"/><Control name=\"f\" float=\"true\" pos=\"0,0,5,5\" "
                    L"bkimage=\"red.png\"/><Control name=\"out\" float=\"true\" pos=\"45,45,80,80\" "
                    L"bkimage=\"red.png\"/></VerticalLayout>",
                    {0, 0, 50, 50}),
              nullptr);
    EXPECT_EQ(named(L"tall")->pos(), (rect{10, 10, 40, 110}));
    EXPECT_EQ(at(20, 39), GREEN) << hex(at(20, 39));
    EXPECT_EQ(at(20, 40), BLACK) << hex(at(20, 40)) << ": the inset is not painted by stacked children";
    EXPECT_EQ(at(2, 2), RED) << hex(at(2, 2)) << ": floating children may cover the inset";
    EXPECT_EQ(at(49, 49), RED) << hex(at(49, 49));
    EXPECT_EQ(bits_.width, 50);
}

}  // namespace
