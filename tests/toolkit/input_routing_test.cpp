// Input on an off-screen window: "windowinit", clicks, keyboard focus and
// Tab order, cursor, links, lookup by point and partial repainting.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/message_queue.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/support/print.h"
#include "toolkit/button.h"
#include "toolkit/container.h"
#include "toolkit/layout_builder.h"
#include "toolkit/paint_manager.h"
#include "toolkit/progress.h"
#include "toolkit/text_block.h"

namespace {

using platform::point;
using platform::rect;
using namespace skinui;

const wchar_t BUTTONS_LAYOUT[] =
    L"<Window size=\"300,100\"><VerticalLayout name=\"root\">"
    L"<HorizontalLayout height=\"30\"><Label name=\"title\" text=\"T\" width=\"100\"/><Control/>"
    L"<Button name=\"closebtn\" width=\"20\" height=\"20\"/></HorizontalLayout>"
    L"<Control/>"
    L"<HorizontalLayout height=\"30\"><Control/><Button name=\"okbtn\" width=\"80\"/>"
    L"<Button name=\"hidden\" width=\"10\" visible=\"false\"/><Button name=\"off\" width=\"10\" enabled=\"false\"/>"
    L"<Button name=\"nokeys\" width=\"10\" keyboard=\"false\"/>"
    L"<Button name=\"cancelbtn\" width=\"80\"/><Control/></HorizontalLayout>"
    L"<Progress name=\"progress\" float=\"true\" pos=\"10,50,0,0\" width=\"200\" height=\"10\"/>"
    L"<Text name=\"link\" float=\"true\" pos=\"10,62,0,0\" width=\"200\" height=\"20\" showhtml=\"true\" "
    L"text=\"see {a}here{/a} now\"/>"
    L"</VerticalLayout></Window>";

struct seen_notify {
    std::wstring type;
    std::wstring sender;
    platform::wparam w;
    rect root_pos;
};

// A window whose messages go to its paint manager, recording notifications.
class test_window : public platform::message_handler, public notify_receiver {
public:
    explicit test_window(const wchar_t* layout) {
        platform::window_params params;
        params.class_name = L"InputTestWnd";
        params.bounds = {0, 0, 300, 100};
        handle = platform::create_window(params, this);
        manager.init(handle);
        layout_builder builder;
        auto root = builder.create(layout, manager);
        built = root != nullptr;
        manager.attach_dialog(std::move(root));
        manager.add_notifier(this);
        platform::show_window(handle, platform::SW_SHOWNORMAL);
    }
    ~test_window() override {
        platform::destroy_window(handle);
        platform::message msg;
        while (platform::peek_message(msg)) {
        }
    }

    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam w,
                                     platform::lparam l) override {
        platform::lresult result = 0;
        manager.handle_window_message(id, w, l, result);
        return result;
    }
    void notify(notify_event& event) override {
        seen.push_back({event.type, event.sender ? event.sender->name() : L"", event.w,
                        manager.root() ? manager.root()->pos() : rect{}});
    }

    void paint() { send(platform::WM_PAINT); }
    platform::lresult send(std::uint32_t id, platform::wparam w = 0, platform::lparam l = 0) {
        return platform::send_message(handle, id, w, l);
    }
    void mouse(std::uint32_t id, point p) { send(id, 0, platform::make_point_lparam(p.x, p.y)); }
    void key(platform::wparam vk) {
        const platform::message msg{handle, platform::WM_KEYDOWN, vk, 0};
        if (!manager.pre_translate_message(msg)) platform::dispatch_message(msg);
    }
    void key_up(platform::wparam vk) {
        const platform::message msg{handle, platform::WM_KEYUP, vk, 0};
        if (!manager.pre_translate_message(msg)) platform::dispatch_message(msg);
    }
    point center_of(std::wstring_view name) const {
        const rect r = manager.find_control(name)->pos();
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    std::vector<std::wstring> clicks() const {
        std::vector<std::wstring> names;
        for (const seen_notify& n : seen) {
            if (n.type == L"click") names.push_back(n.sender);
        }
        return names;
    }
    std::wstring focused() const { return manager.focus() ? manager.focus()->name() : L"(none)"; }

    paint_manager manager;
    platform::window_handle handle = 0;
    bool built = false;
    std::vector<seen_notify> seen;
};

class input_routing : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(platform::select_display(platform::display_kind::offscreen)); }
};

TEST_F(input_routing, windowinit_comes_once_after_the_first_layout) {
    test_window window(BUTTONS_LAYOUT);
    ASSERT_TRUE(window.built);
    EXPECT_TRUE(window.seen.empty());
    window.paint();
    window.paint();
    window.send(platform::WM_SIZE);
    window.paint();
    int inits = 0;
    for (const seen_notify& n : window.seen) {
        if (n.type != L"windowinit") continue;
        ++inits;
        EXPECT_EQ(n.sender, L"root");
        EXPECT_EQ(n.root_pos, (rect{0, 0, 300, 100})) << "the tree is laid out before windowinit";
    }
    EXPECT_EQ(inits, 1);
}

TEST_F(input_routing, press_and_release_decide_the_click) {
    struct click_case {
        const char* what;
        std::vector<std::pair<std::uint32_t, point>> steps;  // mouse messages; x < 0 means "outside"
        std::vector<std::wstring> clicks;
    };
    const point outside{150, 45};
    const std::vector<click_case> cases = {
        {"press and release inside", {{platform::WM_LBUTTONDOWN, {}}, {platform::WM_LBUTTONUP, {}}}, {L"okbtn"}},
        {"release outside",
         {{platform::WM_LBUTTONDOWN, {}}, {platform::WM_MOUSEMOVE, outside}, {platform::WM_LBUTTONUP, outside}},
         {}},
        {"back inside before release",
         {{platform::WM_LBUTTONDOWN, {}},
          {platform::WM_MOUSEMOVE, outside},
          {platform::WM_MOUSEMOVE, {}},
          {platform::WM_LBUTTONUP, {}}},
         {L"okbtn"}},
        {"press outside, release inside", {{platform::WM_LBUTTONDOWN, outside}, {platform::WM_LBUTTONUP, {}}}, {}},
        {"double click then release", {{platform::WM_LBUTTONDBLCLK, {}}, {platform::WM_LBUTTONUP, {}}}, {L"okbtn"}},
    };
    for (const click_case& c : cases) {
        test_window window(BUTTONS_LAYOUT);
        window.paint();
        const point inside = window.center_of(L"okbtn");
        for (const auto& [id, p] : c.steps) window.mouse(id, p == point{} ? inside : p);
        EXPECT_EQ(window.clicks(), c.clicks) << c.what;
        EXPECT_EQ(window.manager.pressed(), nullptr) << c.what;
        EXPECT_EQ(platform::get_capture(), 0u) << c.what;
    }
}

TEST_F(input_routing, disabled_button_raises_no_click) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    const point p = window.center_of(L"off");
    window.mouse(platform::WM_LBUTTONDOWN, p);
    window.mouse(platform::WM_LBUTTONUP, p);
    EXPECT_TRUE(window.clicks().empty());
}

TEST_F(input_routing, pressing_captures_the_mouse_and_focuses_the_control) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    window.mouse(platform::WM_LBUTTONDOWN, window.center_of(L"cancelbtn"));
    EXPECT_EQ(platform::get_capture(), window.handle);
    EXPECT_EQ(window.focused(), L"cancelbtn");
    auto* cancel = static_cast<button*>(window.manager.find_control(L"cancelbtn"));
    EXPECT_NE(cancel->state() & UISTATE_PUSHED, 0u);
    window.mouse(platform::WM_LBUTTONUP, window.center_of(L"cancelbtn"));
    EXPECT_EQ(cancel->state() & (UISTATE_PUSHED | UISTATE_CAPTURED), 0u);
}

TEST_F(input_routing, first_tab_stop_takes_the_focus_and_return_presses_it) {
    test_window window(BUTTONS_LAYOUT);
    EXPECT_EQ(window.focused(), L"(none)");
    window.paint();
    EXPECT_EQ(window.focused(), L"closebtn");
    EXPECT_EQ(platform::get_focus(), window.handle);
    window.key(platform::VK_RETURN);
    window.key(platform::VK_SPACE);
    EXPECT_EQ(window.clicks(), (std::vector<std::wstring>{L"closebtn", L"closebtn"}));
}

TEST_F(input_routing, tab_and_shift_tab_walk_the_tab_stops) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    // Hidden, disabled and keyboard-less buttons and the labels are no tab stops.
    const std::vector<std::wstring> forward = {L"okbtn", L"cancelbtn", L"closebtn", L"okbtn"};
    for (const std::wstring& expected : forward) {
        window.key(platform::VK_TAB);
        EXPECT_EQ(window.focused(), expected);
    }
    window.key(platform::VK_SHIFT);
    const std::vector<std::wstring> backward = {L"closebtn", L"cancelbtn"};
    for (const std::wstring& expected : backward) {
        window.key(platform::VK_TAB);
        EXPECT_EQ(window.focused(), expected);
    }
    window.key_up(platform::VK_SHIFT);
    window.key(platform::VK_TAB);
    EXPECT_EQ(window.focused(), L"closebtn");
    window.key(platform::VK_RETURN);
    EXPECT_EQ(window.clicks(), (std::vector<std::wstring>{L"closebtn"}));
    auto* close = static_cast<button*>(window.manager.find_control(L"closebtn"));
    auto* ok = static_cast<button*>(window.manager.find_control(L"okbtn"));
    EXPECT_NE(close->state() & UISTATE_FOCUSED, 0u);
    EXPECT_EQ(ok->state() & UISTATE_FOCUSED, 0u);
}

TEST_F(input_routing, tab_is_consumed_but_other_keys_are_not) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    EXPECT_TRUE(window.manager.pre_translate_message({window.handle, platform::WM_KEYDOWN, platform::VK_TAB, 0}));
    EXPECT_FALSE(window.manager.pre_translate_message({window.handle, platform::WM_KEYDOWN, platform::VK_RETURN, 0}));
    EXPECT_FALSE(window.manager.pre_translate_message({window.handle, platform::WM_SYSKEYDOWN, 'X', 0}));
    EXPECT_FALSE(window.manager.pre_translate_message({window.handle + 1, platform::WM_KEYDOWN, platform::VK_TAB, 0}))
        << "messages of other windows are left alone";
    EXPECT_TRUE(window.clicks().empty());
}

TEST_F(input_routing, find_control_returns_the_topmost_deepest_control) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    struct hit_case {
        point p;
        std::wstring name;
    };
    const hit_case cases[] = {
        {window.center_of(L"okbtn"), L"okbtn"},
        {{20, 55}, L"progress"},  // floating child over the spacer
        {{0, 0}, L"title"},
        {{299, 99}, L""},  // a box that no child claims: the spacer has no name
        {{300, 50}, L"(none)"},
        {{-1, 5}, L"(none)"},
    };
    for (const hit_case& c : cases) {
        control* found = window.manager.find_control(c.p);
        EXPECT_EQ(found ? found->name() : L"(none)", c.name) << c.p.x << "," << c.p.y;
    }
}

TEST_F(input_routing, cursor_is_a_hand_over_buttons_only) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    window.mouse(platform::WM_MOUSEMOVE, window.center_of(L"okbtn"));
    EXPECT_EQ(platform::current_cursor(), platform::cursor_kind::hand);
    window.mouse(platform::WM_MOUSEMOVE, window.center_of(L"title"));
    EXPECT_EQ(platform::current_cursor(), platform::cursor_kind::arrow);
    window.mouse(platform::WM_MOUSEMOVE, window.center_of(L"closebtn"));
    EXPECT_EQ(window.send(platform::WM_SETCURSOR, window.handle, platform::HTCLIENT), 1);
    EXPECT_EQ(platform::current_cursor(), platform::cursor_kind::hand);
    EXPECT_EQ(window.send(platform::WM_SETCURSOR, window.handle, platform::HTCAPTION), 0)
        << "only the client area is ours";
}

TEST_F(input_routing, hover_follows_the_pointer) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    auto* ok = static_cast<button*>(window.manager.find_control(L"okbtn"));
    window.mouse(platform::WM_MOUSEMOVE, window.center_of(L"okbtn"));
    EXPECT_EQ(window.manager.hover(), ok);
    EXPECT_NE(ok->state() & UISTATE_HOT, 0u);
    window.mouse(platform::WM_MOUSEMOVE, window.center_of(L"title"));
    EXPECT_EQ(ok->state() & UISTATE_HOT, 0u);
    window.send(platform::WM_MOUSELEAVE);
    EXPECT_EQ(window.manager.hover(), nullptr);
}

TEST_F(input_routing, link_click_reports_its_index_over_the_link_only) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    auto* text = static_cast<text_block*>(window.manager.find_control(L"link"));
    ASSERT_EQ(text->link_count(), 1);
    EXPECT_EQ(text->link_text(0), L"");
    const rect link = text->link_rect(0);
    ASSERT_FALSE(link.empty());
    EXPECT_GE(link.left, text->pos().left) << link;
    EXPECT_LE(link.right, text->pos().right) << link;

    const point on_link{(link.left + link.right) / 2, (link.top + link.bottom) / 2};
    const point beside{text->pos().right - 3, on_link.y};
    ASSERT_FALSE(link.contains(beside)) << link;

    window.mouse(platform::WM_MOUSEMOVE, beside);
    EXPECT_EQ(platform::current_cursor(), platform::cursor_kind::arrow);
    EXPECT_EQ(text->hovered_link(), -1);
    window.mouse(platform::WM_LBUTTONDOWN, beside);
    window.mouse(platform::WM_LBUTTONUP, beside);

    window.mouse(platform::WM_MOUSEMOVE, on_link);
    EXPECT_EQ(platform::current_cursor(), platform::cursor_kind::hand);
    EXPECT_EQ(text->hovered_link(), 0);
    window.mouse(platform::WM_LBUTTONDOWN, on_link);
    window.mouse(platform::WM_LBUTTONUP, on_link);

    std::vector<std::pair<std::wstring, platform::wparam>> links;
    for (const seen_notify& n : window.seen) {
        if (n.type == L"link") links.emplace_back(n.sender, n.w);
    }
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].first, L"link");
    EXPECT_EQ(links[0].second, 0u);
}

TEST_F(input_routing, progress_value_repaints_only_the_bar) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    platform::take_update_rect(window.handle);
    auto* bar = static_cast<progress*>(window.manager.find_control(L"progress"));
    bar->set_value(50);
    EXPECT_EQ(platform::take_update_rect(window.handle), bar->pos());
    bar->set_value(50);
    EXPECT_EQ(platform::take_update_rect(window.handle), (rect{})) << "an unchanged value repaints nothing";
    bar->set_value(500);
    EXPECT_EQ(bar->value(), 100);
    EXPECT_EQ(bar->fill_rect(), (rect{0, 0, 200, 10}));
}

TEST_F(input_routing, notifications_reach_subscribers_then_receivers_in_order) {
    test_window window(BUTTONS_LAYOUT);
    struct second_receiver : notify_receiver {
        std::vector<std::wstring>* log;
        void notify(notify_event& e) override { log->push_back(L"second:" + e.type); }
    };
    std::vector<std::wstring> log;
    second_receiver second;
    second.log = &log;
    window.manager.add_notifier(&second);
    control* ok = window.manager.find_control(L"okbtn");
    ok->subscribe(
        [&](notify_event& e) { log.push_back(L"own:" + e.type + L":" + std::to_wstring(window.seen.size())); });
    window.manager.send_notify(ok, L"click", 3, 4);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], L"own:click:0") << "the sender's subscribers come before the receivers";
    EXPECT_EQ(log[1], L"second:click");
    ASSERT_EQ(window.seen.size(), 1u);
    EXPECT_EQ(window.seen[0].w, 3u);
    window.manager.remove_notifier(&second);
    window.manager.send_notify(ok, L"x");
    EXPECT_EQ(log.size(), 3u) << "removed receivers hear nothing more";
}

TEST_F(input_routing, asynchronous_notifications_arrive_through_the_queue) {
    test_window window(BUTTONS_LAYOUT);
    control* ok = window.manager.find_control(L"okbtn");
    window.manager.send_notify(ok, L"later", 0, 0, true, false);
    window.manager.send_notify(ok, L"later", 1, 0, true, false);
    EXPECT_TRUE(window.seen.empty());
    platform::message msg;
    while (platform::peek_message(msg)) platform::dispatch_message(msg);
    std::vector<platform::wparam> later;
    for (const seen_notify& n : window.seen) {
        if (n.type == L"later") later.push_back(n.w);
    }
    EXPECT_EQ(later, (std::vector<platform::wparam>{1})) << "without repeat the earlier one is dropped";
}

TEST_F(input_routing, painting_fills_the_update_area_of_the_surface) {
    test_window window(BUTTONS_LAYOUT);
    window.paint();
    EXPECT_EQ(window.manager.back_buffer().width, 300);
    EXPECT_EQ(window.manager.back_buffer().height, 100);
    EXPECT_EQ(platform::take_update_rect(window.handle), (rect{})) << "painting takes the update area";
}

}  // namespace

namespace {

// A receiver that deletes a control when told to, and records the sender
// of every asynchronous notification it gets (by address only).
struct deleting_receiver : skinui::notify_receiver {
    skinui::paint_manager* manager = nullptr;
    std::vector<const skinui::control*> senders;
    int requeued = 0;
    void notify(skinui::notify_event& e) override {
        if (e.type == L"delete-cancel") {
            skinui::control* cancel = manager->find_control(L"cancelbtn");
            if (cancel != nullptr) cancel->parent()->as_container()->remove(cancel);
        }
        if (e.type == L"again" && requeued++ < 1) manager->send_notify(e.sender, L"again", 0, 0, true, true);
        if (e.type != L"windowinit") senders.push_back(e.sender);
    }
};

TEST_F(input_routing, a_receiver_deleting_a_later_sender_drops_its_queued_notification) {
    test_window window(BUTTONS_LAYOUT);
    deleting_receiver receiver;
    receiver.manager = &window.manager;
    window.manager.add_notifier(&receiver);
    skinui::control* ok = window.manager.find_control(L"okbtn");
    const skinui::control* cancel = window.manager.find_control(L"cancelbtn");
    window.manager.send_notify(ok, L"delete-cancel", 0, 0, true, false);
    window.manager.send_notify(window.manager.find_control(L"cancelbtn"), L"from-cancel", 0, 0, true, false);
    window.manager.send_notify(ok, L"after", 0, 0, true, false);
    platform::message msg;
    while (platform::peek_message(msg)) platform::dispatch_message(msg);
    EXPECT_EQ(window.manager.find_control(L"cancelbtn"), nullptr);
    EXPECT_EQ(std::count(receiver.senders.begin(), receiver.senders.end(), cancel), 0)
        << "the deleted control's notification must not be delivered";
    EXPECT_EQ(receiver.senders, (std::vector<const skinui::control*>{ok, ok}));

    // A notification sent while delivering waits for its own message.
    receiver.senders.clear();
    window.manager.send_notify(ok, L"again", 0, 0, true, true);
    ASSERT_TRUE(platform::peek_message(msg));
    platform::dispatch_message(msg);
    EXPECT_EQ(receiver.senders.size(), 1u);
    while (platform::peek_message(msg)) platform::dispatch_message(msg);
    EXPECT_EQ(receiver.senders.size(), 2u);
}

}  // namespace
