// The toolkit's message boxes on the off-screen display: answers by key,
// mouse and close command, Tab order, ownership and centring, the caption
// as title, GBK texts, word wrap, and messages dispatched while open.
#include "toolkit/message_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/offscreen/offscreen_display.h"
#include "platform/window.h"
#include "tests/toolkit/modal_script.h"

namespace {

using platform::rect;

// An owner window that records the messages it gets.
class owner_window final : public platform::message_handler {
public:
    explicit owner_window(rect bounds = {340, 200, 940, 600}) {
        platform::window_params params;
        params.class_name = L"BoxOwnerWnd";
        params.bounds = bounds;
        handle = platform::create_window(params, this);
        platform::show_window(handle, platform::SW_SHOWNORMAL);
    }
    ~owner_window() override { platform::destroy_window(handle); }
    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam,
                                     platform::lparam) override {
        seen.push_back(id);
        return 0;
    }
    platform::window_handle handle = 0;
    std::vector<std::uint32_t> seen;
};

class message_box_test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::select_display(platform::display_kind::offscreen));
        platform::set_offscreen_work_area({0, 0, 1280, 800});
    }
    void TearDown() override {
        platform::message msg;
        while (platform::peek_message(msg)) {
        }
    }
};

enum class input { enter, space, escape, tab, shift_tab, close_command, click_last_button };

void send_input(input what) {
    const platform::window_handle box = skinui::current_message_box();
    switch (what) {
        case input::enter:
            return modal_script::box_key(platform::VK_RETURN);
        case input::space:
            return modal_script::box_key(platform::VK_SPACE);
        case input::escape:
            return modal_script::box_key(platform::VK_ESCAPE);
        case input::tab:
            return modal_script::box_key(platform::VK_TAB);
        case input::shift_tab:
            platform::post_message(box, platform::WM_KEYDOWN, platform::VK_SHIFT, 0);
            modal_script::box_key(platform::VK_TAB);
            platform::post_message(box, platform::WM_KEYUP, platform::VK_SHIFT, 0);
            return;
        case input::close_command:
            platform::post_message(box, platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0);
            return;
        case input::click_last_button: {
            // The buttons sit at the bottom right: 20 px from the right edge,
            // 16 px above the bottom, 88 x 30 each.
            const rect r = platform::client_rect(box);
            const platform::lparam at = platform::make_point_lparam(r.right - 20 - 44, r.bottom - 16 - 15);
            platform::post_message(box, platform::WM_LBUTTONDOWN, platform::MK_LBUTTON, at);
            platform::post_message(box, platform::WM_LBUTTONUP, 0, at);
            return;
        }
    }
}

struct answer_case {
    const char* name;
    unsigned type;
    std::vector<input> inputs;
    int expected;
};

TEST_F(message_box_test, answers_follow_the_keys_the_mouse_and_the_close_command) {
    const answer_case cases[] = {
        {"OK: Return", platform::MB_OK, {input::enter}, platform::IDOK},
        {"OK: Escape", platform::MB_OK, {input::escape}, platform::IDOK},
        {"OK: close", platform::MB_OK, {input::close_command}, platform::IDOK},
        {"OK+Cancel: Return on the first", platform::MB_OKCANCEL, {input::enter}, platform::IDOK},
        {"OK+Cancel: Escape", platform::MB_OKCANCEL, {input::escape}, platform::IDCANCEL},
        {"OK+Cancel: Tab, Return", platform::MB_OKCANCEL, {input::tab, input::enter}, platform::IDCANCEL},
        {"OK+Cancel: Tab wraps", platform::MB_OKCANCEL, {input::tab, input::tab, input::enter}, platform::IDOK},
        {"OK+Cancel: Shift+Tab", platform::MB_OKCANCEL, {input::shift_tab, input::enter}, platform::IDCANCEL},
        {"OK+Cancel: close", platform::MB_OKCANCEL, {input::close_command}, platform::IDCANCEL},
        {"OK+Cancel: click", platform::MB_OKCANCEL, {input::click_last_button}, platform::IDCANCEL},
        {"Retry+Cancel: Return", platform::MB_RETRYCANCEL, {input::enter}, platform::IDRETRY},
        {"Retry+Cancel: Space", platform::MB_RETRYCANCEL, {input::space}, platform::IDRETRY},
        {"Retry+Cancel: Tab, Space", platform::MB_RETRYCANCEL, {input::tab, input::space}, platform::IDCANCEL},
        {"Retry+Cancel: Escape", platform::MB_RETRYCANCEL, {input::escape}, platform::IDCANCEL},
        {"Retry+Cancel: click", platform::MB_RETRYCANCEL, {input::click_last_button}, platform::IDCANCEL},
    };
    for (const answer_case& c : cases) {
        owner_window owner;
        modal_script::script script;
        for (input what : c.inputs) script.later([what] { send_input(what); });
        const int answer = skinui::message_box(owner.handle, L"text", L"caption", c.type);
        EXPECT_EQ(answer, c.expected) << c.name;
        EXPECT_EQ(skinui::current_message_box(), 0u) << c.name;
    }
}

TEST_F(message_box_test, the_box_is_modal_owned_centred_and_titled_and_others_still_get_messages) {
    owner_window owner;
    owner_window bystander({0, 0, 50, 50});
    modal_script::script script;
    platform::window_handle box = 0;
    platform::offscreen_window_state state;
    bool owner_enabled_inside = true;
    std::wstring text;
    script.later([&] {
        box = skinui::current_message_box();
        platform::offscreen_window_info(box, state);
        owner_enabled_inside = platform::is_window_enabled(owner.handle);
        text = skinui::message_box_text(box);
        platform::post_message(bystander.handle, platform::WM_USER + 11, 0, 0);
        platform::post_message(owner.handle, platform::WM_USER + 12, 0, 0);
        script.later([] { send_input(input::enter); });
    });
    EXPECT_EQ(skinui::message_box(owner.handle, L"下载更新程序失败，请重试", L"温馨提示", platform::MB_RETRYCANCEL),
              platform::IDRETRY);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(state.title, L"温馨提示") << "the caption is the window's title";
    EXPECT_EQ(text, L"下载更新程序失败，请重试");
    EXPECT_EQ(state.owner, owner.handle);
    EXPECT_TRUE(state.modal);
    EXPECT_TRUE(state.visible);
    EXPECT_FALSE(owner_enabled_inside) << "the owner is disabled while the box is open";
    EXPECT_TRUE(platform::is_window_enabled(owner.handle));
    EXPECT_EQ(platform::get_focus(), owner.handle);
    const int centre_x = (state.bounds.left + state.bounds.right) / 2;
    const int centre_y = (state.bounds.top + state.bounds.bottom) / 2;
    EXPECT_NEAR(centre_x, 640, 1) << "centred over the owner";
    EXPECT_NEAR(centre_y, 400, 1);
    EXPECT_FALSE(platform::is_window(box)) << "the box goes away with its answer";
    EXPECT_NE(std::find(bystander.seen.begin(), bystander.seen.end(), platform::WM_USER + 11), bystander.seen.end())
        << "posted messages are dispatched while it is open";
    EXPECT_NE(std::find(owner.seen.begin(), owner.seen.end(), platform::WM_USER + 12), owner.seen.end());
}

TEST_F(message_box_test, the_narrow_form_reads_gbk_and_a_box_without_owner_sits_on_the_work_area) {
    modal_script::script script;
    platform::offscreen_window_state state;
    std::wstring text;
    script.later([&] {
        platform::offscreen_window_info(skinui::current_message_box(), state);
        text = skinui::message_box_text(skinui::current_message_box());
        send_input(input::escape);
    });
    // "温馨提示" and "确定" in code page 936.
    EXPECT_EQ(skinui::message_box_a(0, "\xc8\xb7\xb6\xa8", "\xce\xc2\xdc\xb0\xcc\xe1\xca\xbe", platform::MB_OKCANCEL),
              platform::IDCANCEL);
    EXPECT_EQ(state.title, L"温馨提示");
    EXPECT_EQ(text, L"确定");
    EXPECT_EQ(state.owner, 0u);
    EXPECT_NEAR((state.bounds.left + state.bounds.right) / 2, 640, 1);
    EXPECT_NEAR((state.bounds.top + state.bounds.bottom) / 2, 400, 1);
}

// The box's height for a text, read while it is open.
int box_height_for(const std::wstring& text) {
    modal_script::script script;
    int height = 0;
    script.later([&] {
        height = platform::window_rect(skinui::current_message_box()).height();
        send_input(input::enter);
    });
    skinui::message_box(0, text, L"c", platform::MB_OK);
    return height;
}

TEST_F(message_box_test, long_texts_wrap_onto_more_lines_and_line_feeds_break) {
    const int one_line = box_height_for(L"short");
    const int two_lines = box_height_for(L"short\nsecond");
    const int line = two_lines - one_line;
    EXPECT_GT(line, 10) << "a line feed adds a line";
    EXPECT_EQ(box_height_for(L"short\r\nsecond"), two_lines) << "CR LF is one break";
    std::wstring cjk;
    for (int i = 0; i < 8; ++i) cjk += L"正在更新，点击确定将终止程序更新，";
    EXPECT_GE(box_height_for(cjk), one_line + 3 * line) << "wide characters wrap anywhere";
    EXPECT_GE(box_height_for(std::wstring(400, L'x')), one_line + 2 * line) << "a word longer than a line is cut";
    std::wstring words;
    for (int i = 0; i < 40; ++i) words += L"word ";
    EXPECT_GE(box_height_for(words), one_line + line) << "blanks are break points";
    EXPECT_LE(box_height_for(std::wstring(100000, L'y')), 800) << "a huge text is cut, not a huge window";
}

TEST_F(message_box_test, wm_quit_ends_the_box_with_no_answer_and_is_passed_on) {
    modal_script::script script;
    script.later([] { platform::post_quit_message(3); });
    EXPECT_EQ(skinui::message_box(0, L"t", L"c", platform::MB_OKCANCEL), 0);
    platform::message msg;
    bool quit = false;
    while (platform::peek_message(msg)) quit = quit || (msg.id == platform::WM_QUIT && msg.w == 3);
    EXPECT_TRUE(quit);
}

TEST_F(message_box_test, a_box_opened_inside_a_box_answers_first) {
    modal_script::script script;
    int inner = -1;
    script.later([&] {
        script.later([] { send_input(input::escape); });
        inner = skinui::message_box(0, L"inner", L"inner", platform::MB_OKCANCEL);
        send_input(input::enter);
    });
    EXPECT_EQ(skinui::message_box(0, L"outer", L"outer", platform::MB_RETRYCANCEL), platform::IDRETRY);
    EXPECT_EQ(inner, platform::IDCANCEL);
}

}  // namespace

namespace {

// Paints of the open box, read back from the off-screen display: the skin's
// caption band, body and edge, and the accent colour of the default button.
TEST_F(message_box_test, the_box_is_painted_in_the_skin_colours) {
    modal_script::script script;
    platform::offscreen_image image;
    script.later([&] {
        image = platform::offscreen_pixels(skinui::current_message_box());
        send_input(input::escape);
    });
    skinui::message_box(0, L"t", L"", platform::MB_OKCANCEL);
    ASSERT_GT(image.width, 0);
    auto at = [&](int x, int y) { return image.pixels[static_cast<std::size_t>(y) * image.width + x]; };
    EXPECT_EQ(at(0, 0), 0xFF323B50u) << "edge";
    EXPECT_EQ(at(5, 5), 0xFF232B3Cu) << "caption band";
    EXPECT_EQ(at(5, 40), 0xFF1D2332u) << "body";
    // The first button: 88 x 30, left of the second, 16 px above the bottom.
    const int first_left = image.width - 20 - 88 - 10 - 88;
    EXPECT_EQ(at(first_left + 5, image.height - 16 - 5), 0xFF14B9D6u) << "the default button's accent";
    EXPECT_EQ(at(image.width - 20 - 5, image.height - 16 - 5), 0xFF2B3345u) << "the other button";
}

}  // namespace
