// Modal message boxes drawn by the toolkit in the skin's dark theme, with
// the buttons and return values of the system's message boxes.
#include "toolkit/message_box.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/debug_output.h"
#include "platform/text.h"
#include "platform/window.h"
#include "toolkit/blend.h"
#include "toolkit/button.h"
#include "toolkit/horizontal_layout.h"
#include "toolkit/label.h"
#include "toolkit/native_window.h"
#include "toolkit/paint_manager.h"
#include "toolkit/vertical_layout.h"

namespace skinui {
namespace {

// The skin's palette (its backgrounds, caption band, edges and accent).
constexpr pixel BACKGROUND = 0xFF1D2332;
constexpr pixel CAPTION_BAND = 0xFF232B3C;
constexpr pixel EDGE = 0xFF323B50;
constexpr std::uint32_t TEXT_COLOR = 0xFFB3BACA;
constexpr pixel ACCENT = 0xFF14B9D6;
constexpr pixel ACCENT_EDGE = 0xFF0B7F99;
constexpr pixel PLAIN_BUTTON = 0xFF2B3345;
constexpr pixel PLAIN_EDGE = 0xFF44506A;
constexpr pixel FOCUS_EDGE = 0xFFE6EDF7;

// Sizes of the box, in pixels.
constexpr int BOX_WIDTH = 380;
constexpr int CAPTION_HEIGHT = 30;
constexpr int TEXT_MARGIN = 20;
constexpr int TEXT_WIDTH = BOX_WIDTH - 2 * TEXT_MARGIN;
constexpr int BUTTON_WIDTH = 88;
constexpr int BUTTON_HEIGHT = 30;
constexpr int BUTTON_GAP = 10;
constexpr int BOTTOM_MARGIN = 16;
constexpr int MAX_LINES = 24;  // a longer text is cut with an ellipsis

// Fonts as the skin declares them.
constexpr wchar_t FONT_FACE[] = L"微软雅黑";
constexpr int TEXT_FONT = 2;
constexpr int CAPTION_FONT = 4;
constexpr int BUTTON_FONT = 2;

void fill(paint_target& target, const rect& area, pixel color) {
    const rect part = intersect(intersect(area, target.clip), target.bits.bounds());
    for (int y = part.top; y < part.bottom; ++y) std::fill_n(&target.bits.at(part.left, y), part.width(), color);
}

void frame(paint_target& target, const rect& r, pixel color) {
    fill(target, {r.left, r.top, r.right, r.top + 1}, color);
    fill(target, {r.left, r.bottom - 1, r.right, r.bottom}, color);
    fill(target, {r.left, r.top, r.left + 1, r.bottom}, color);
    fill(target, {r.right - 1, r.top, r.right, r.bottom}, color);
}

// The box's background: caption band, body and a one-pixel edge.
class box_panel final : public vertical_layout {
public:
    void do_paint(paint_target& target, const rect&) override {
        fill(target, item_, BACKGROUND);
        fill(target, {item_.left, item_.top, item_.right, item_.top + CAPTION_HEIGHT}, CAPTION_BAND);
        frame(target, item_, EDGE);
    }
};

// Text broken into lines by the box before layout, drawn line by line.
class wrapped_text final : public control {
public:
    std::vector<std::wstring> lines;
    int line_height = 16;

    void do_paint(paint_target& target, const rect&) override {
        if (manager_ == nullptr) return;
        rect line{item_.left, item_.top, item_.right, item_.top + line_height};
        for (const std::wstring& text : lines) {
            render_engine::draw_text(target, *manager_, line, text, TEXT_COLOR, TEXT_FONT,
                                     DT_SINGLELINE | DT_LEFT | DT_VCENTER);
            line.top += line_height;
            line.bottom += line_height;
        }
    }
};

// A flat button: the accent colour for the first (default) button, a
// lighter edge while it holds the keyboard focus.
class box_button final : public button {
public:
    box_button(int answer, bool primary) : answer_(answer), primary_(primary) {
        set_text_style(DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    }
    int answer() const { return answer_; }

    void do_paint(paint_target& target, const rect&) override {
        const bool pushed = (state() & UISTATE_PUSHED) != 0;
        pixel body = primary_ ? ACCENT : PLAIN_BUTTON;
        if (pushed) body = primary_ ? ACCENT_EDGE : PLAIN_EDGE;
        fill(target, item_, body);
        frame(target, item_, (state() & UISTATE_FOCUSED) != 0 ? FOCUS_EDGE : (primary_ ? ACCENT_EDGE : PLAIN_EDGE));
        paint_text(target);
    }

private:
    int answer_;
    bool primary_;
};

bool breaks_anywhere(wchar_t c) {
    return c >= 0x2E80;  // CJK and beyond: a line may break before any of them
}

// Greedy word wrap: at blanks, before and after wide characters, at line
// feeds, and inside a word that does not fit a line on its own.
std::vector<std::wstring> wrap_text(paint_manager& manager, std::wstring_view text, int width) {
    std::vector<std::wstring> lines(1);
    int line_width = 0;
    auto width_of = [&](std::wstring_view part) { return render_engine::measure_text(manager, part, TEXT_FONT).cx; };
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == L'\n' || text[i] == L'\r') {
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            lines.emplace_back();
            line_width = 0;
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        if (!breaks_anywhere(text[i])) {
            while (end < text.size() && text[end] != L' ' && text[end] != L'\n' && text[end] != L'\r' &&
                   !breaks_anywhere(text[end]))
                ++end;
            while (end < text.size() && text[end] == L' ') ++end;  // trailing blanks stay with the word
        }
        std::wstring_view token = text.substr(i, end - i);
        int token_width = width_of(token);
        if (line_width + token_width > width && !lines.back().empty()) {
            lines.emplace_back();
            line_width = 0;
        }
        if (token_width > width) {
            // A word longer than a line is cut where it overflows.
            for (wchar_t c : token) {
                const int w = width_of(std::wstring_view(&c, 1));
                if (line_width + w > width && !lines.back().empty()) {
                    lines.emplace_back();
                    line_width = 0;
                }
                lines.back().push_back(c);
                line_width += w;
            }
        } else {
            lines.back() += token;
            line_width += token_width;
        }
        i = end;
    }
    if (lines.size() > MAX_LINES) {
        lines.resize(MAX_LINES);
        lines.back() += L"…";
    }
    return lines;
}

struct button_choice {
    const wchar_t* label;
    int answer;
};

std::vector<button_choice> buttons_of(unsigned type) {
    switch (type & platform::MB_TYPEMASK) {
        case platform::MB_OKCANCEL:
            return {{L"确定", platform::IDOK}, {L"取消", platform::IDCANCEL}};
        case platform::MB_RETRYCANCEL:
            return {{L"重试", platform::IDRETRY}, {L"取消", platform::IDCANCEL}};
        default:
            return {{L"确定", platform::IDOK}};
    }
}

struct open_box {
    platform::window_handle window;
    std::wstring text;
};

std::vector<open_box>& open_boxes() {
    static std::vector<open_box> boxes;
    return boxes;
}

class message_box_window final : public native_window, public notify_receiver {
public:
    message_box_window(std::wstring_view text, std::wstring_view caption, unsigned type)
        : text_(text), caption_(caption), buttons_(buttons_of(type)) {
        // Escape and the close command answer Cancel where there is one.
        escape_answer_ = buttons_.size() > 1 ? platform::IDCANCEL : platform::IDOK;
    }

    std::wstring window_class_name() const override { return L"SkinMessageBox"; }
    std::uint32_t class_style() const override { return platform::CS_DBLCLKS; }

    int run(platform::window_handle owner) {
        if (create(owner, caption_, platform::WS_POPUP | platform::WS_CAPTION | platform::WS_SYSMENU, 0) == 0) {
            platform::debug_output("[TamsaUpdate]: message box window could not be created\n");
            return 0;
        }
        const platform::window_handle box = handle();
        build();
        platform::move_window(box, 0, 0, BOX_WIDTH, box_height());
        center_window();
        platform::set_window_modal(box, true);
        open_boxes().push_back({box, text_});
        const int answer = loop(owner);
        std::erase_if(open_boxes(), [box](const open_box& b) { return b.window == box; });
        manager_.remove_notifier(this);
        platform::destroy_window(box);
        return answer;
    }

    platform::lresult handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) override {
        if (id == platform::WM_KEYDOWN && w == platform::VK_ESCAPE) {
            finish(escape_answer_);
            return 0;
        }
        if (id == platform::WM_SYSCOMMAND && (w & 0xFFF0) == platform::SC_CLOSE) {
            finish(escape_answer_);
            return 0;
        }
        if (id == platform::WM_CLOSE) {  // the box is destroyed by run, not by the default handling
            finish(escape_answer_);
            return 0;
        }
        platform::lresult result = 0;
        if (manager_.handle_window_message(id, w, l, result)) return result;
        return native_window::handle_message(id, w, l);
    }

    void notify(notify_event& event) override {
        if (event.type != L"click") return;
        for (box_button* b : button_controls_) {
            if (event.sender == b) finish(b->answer());
        }
    }

private:
    void finish(int answer) {
        if (done_) return;
        answer_ = answer;
        done_ = true;
    }

    void add_fonts() {
        const int sizes[] = {12, 13, 14, 15, 16};
        for (int id = 0; id < 5; ++id) manager_.add_font(id, FONT_FACE, sizes[id], id == 4, false, false);
        manager_.set_default_font(0);
    }

    void build() {
        manager_.init(handle());
        add_fonts();
        auto root = std::make_unique<box_panel>();
        root->add(make_caption_row());
        root->add(make_text());
        root->add(std::make_unique<control>());  // absorbs what is left
        root->add(make_button_row());
        auto bottom = std::make_unique<control>();
        bottom->set_fixed_height(BOTTOM_MARGIN);
        root->add(std::move(bottom));
        manager_.attach_dialog(std::move(root));
        manager_.add_notifier(this);
    }

    std::unique_ptr<control> make_caption_row() {
        auto row = std::make_unique<horizontal_layout>();
        row->set_fixed_height(CAPTION_HEIGHT);
        row->set_inset({14, 0, 14, 0});
        auto title = std::make_unique<label>();
        title->set_text(caption_);
        title->set_font(CAPTION_FONT);
        title->set_text_color(TEXT_COLOR);
        row->add(std::move(title));
        return row;
    }

    // The text is broken into lines here, so that the box's height fits it.
    std::unique_ptr<control> make_text() {
        auto text = std::make_unique<wrapped_text>();
        text->lines = wrap_text(manager_, text_, TEXT_WIDTH);
        text->line_height = std::max(1, render_engine::measure_text(manager_, L"国", TEXT_FONT).cy + 6);
        text->set_fixed_height(text->line_height * static_cast<int>(text->lines.size()));
        text->set_padding({TEXT_MARGIN, 18, TEXT_MARGIN, 18});
        text_height_ = text->fixed_height();
        return text;
    }

    // The buttons at the right, the first one the default.
    std::unique_ptr<control> make_button_row() {
        auto row = std::make_unique<horizontal_layout>();
        row->set_fixed_height(BUTTON_HEIGHT);
        row->set_inset({0, 0, TEXT_MARGIN, 0});
        row->set_child_padding(BUTTON_GAP);
        row->add(std::make_unique<control>());
        for (std::size_t i = 0; i < buttons_.size(); ++i) {
            auto b = std::make_unique<box_button>(buttons_[i].answer, i == 0);
            b->set_name(i == 0 ? L"default" : L"button" + std::to_wstring(i));
            b->set_text(buttons_[i].label);
            b->set_font(BUTTON_FONT);
            b->set_text_color(i == 0 ? 0xFFFFFFFF : TEXT_COLOR);
            b->set_fixed_width(BUTTON_WIDTH);
            button_controls_.push_back(b.get());
            row->add(std::move(b));
        }
        return row;
    }

    int box_height() const { return CAPTION_HEIGHT + 18 + text_height_ + 18 + BUTTON_HEIGHT + BOTTOM_MARGIN; }

    // The box's own loop: it ends with the answer, not with WM_QUIT, so the
    // loops around it go on; a WM_QUIT ends it too and is passed on.
    int loop(platform::window_handle owner) {
        platform::show_window(handle(), platform::SW_SHOWNORMAL);
        platform::set_focus(handle());
        if (owner != 0) platform::enable_window(owner, false);
        platform::message msg;
        bool quit = false;
        while (!done_ && platform::is_window(handle())) {
            if (!platform::get_message(msg)) {
                quit = true;
                break;
            }
            if (!paint_manager::translate_message(msg)) platform::dispatch_message(msg);
        }
        if (owner != 0) {
            platform::enable_window(owner, true);
            platform::set_focus(owner);
        }
        if (quit) {
            platform::post_quit_message(static_cast<int>(msg.w));
            return 0;
        }
        return answer_;
    }

    std::wstring text_;
    std::wstring caption_;
    std::vector<button_choice> buttons_;
    std::vector<box_button*> button_controls_;
    paint_manager manager_;
    int text_height_ = 0;
    int escape_answer_ = platform::IDCANCEL;
    int answer_ = 0;
    bool done_ = false;
};

std::wstring from_gbk(std::string_view text) {
    if (text.empty()) return {};
    std::wstring wide = platform::gbk_to_wide(text);
    if (wide.empty()) {
        platform::debug_output("[TamsaUpdate]: message box text is not GBK; shown as UTF-8\n");
        wide = platform::utf8_to_wide(text);
    }
    return wide;
}

}  // namespace

int message_box(platform::window_handle owner, std::wstring_view text, std::wstring_view caption, unsigned type) {
    // The system's own box where the display has one; the drawn box stands
    // in for it elsewhere, and when the system's cannot be shown.
    const int answer = platform::system_message_box(owner, std::wstring(text), std::wstring(caption), type);
    if (answer > 0) return answer;
    if (answer == 0) platform::debug_output("[TamsaUpdate]: the system's message box failed; drawn instead\n");
    message_box_window box(text, caption, type);
    return box.run(owner);
}

int message_box_a(platform::window_handle owner, std::string_view text, std::string_view caption, unsigned type) {
    return message_box(owner, from_gbk(text), from_gbk(caption), type);
}

platform::window_handle current_message_box() {
    return open_boxes().empty() ? 0 : open_boxes().back().window;
}

std::wstring message_box_text(platform::window_handle box) {
    for (const open_box& b : open_boxes()) {
        if (b.window == box) return b.text;
    }
    return {};
}

}  // namespace skinui
