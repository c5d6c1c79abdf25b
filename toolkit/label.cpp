// A control that draws one text in a font, colour and style.
#include "toolkit/label.h"

#include <array>

#include "toolkit/attribute_values.h"
#include "toolkit/paint_manager.h"

namespace skinui {
namespace {

// Each word found sets its alignment, in the order given, so the last found wins.
unsigned parse_alignment(unsigned style, std::wstring_view value, const std::array<std::wstring_view, 3>& words,
                         const std::array<unsigned, 3>& flags) {
    const unsigned all = flags[0] | flags[1] | flags[2];
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (value.find(words[i]) != std::wstring_view::npos) style = (style & ~all) | flags[i];
    }
    return style;
}

constexpr unsigned DT_TOP = 0x0;

}  // namespace

struct label_setters {
    static constexpr std::array<attribute_setter<label>, 6> table{{
        {L"font", [](label& c, std::wstring_view v) { c.set_font(parse_int(v)); }},
        {L"textcolor", [](label& c, std::wstring_view v) { c.set_text_color(parse_color(v)); }},
        {L"align",
         [](label& c, std::wstring_view v) {
             c.set_text_style(
                 parse_alignment(c.text_style_, v, {L"left", L"center", L"right"}, {DT_LEFT, DT_CENTER, DT_RIGHT}));
         }},
        {L"valign",
         [](label& c, std::wstring_view v) {
             c.set_text_style(
                 parse_alignment(c.text_style_, v, {L"top", L"vcenter", L"bottom"}, {DT_TOP, DT_VCENTER, DT_BOTTOM}));
         }},
        {L"textpadding", [](label& c, std::wstring_view v) { c.set_text_padding(parse_rect(v)); }},
        {L"showhtml", [](label& c, std::wstring_view v) { c.set_show_html(parse_bool(v)); }},
    }};
};

label::label() : text_style_(DT_VCENTER | DT_SINGLELINE) {}

void label::set_font(int index) {
    font_ = index;
    need_update();
}

void label::set_text_color(std::uint32_t color) {
    text_color_ = color;
    invalidate();
}

void label::set_disabled_text_color(std::uint32_t color) {
    disabled_text_color_ = color;
    invalidate();
}

void label::set_text_style(unsigned style) {
    text_style_ = style;
    invalidate();
}

void label::set_text_padding(const platform::rect& padding) {
    text_padding_ = padding;
    need_update();
}

void label::set_show_html(bool show) {
    if (show_html_ == show) return;
    show_html_ = show;
    invalidate();
}

void label::set_attribute(std::wstring_view name, std::wstring_view value) {
    if (apply_attribute<label>(label_setters::table, *this, name, value)) return;
    control::set_attribute(name, value);
}

// A single-line label without a fixed size measures its text in its font.
platform::size label::estimate_size(platform::size available) {
    if (fixed_width() != 0 && fixed_height() != 0) return {fixed_width(), fixed_height()};
    if ((text_style_ & DT_SINGLELINE) == 0 || manager_ == nullptr) return control::estimate_size(available);
    const platform::size measured = render_engine::measure_text(*manager_, text(), font_);
    int line_height = measured.cy;
    if (line_height == 0) line_height = render_engine::measure_text(*manager_, L" ", font_).cy;
    const int width = fixed_width() != 0 ? fixed_width() : measured.cx + text_padding_.left + text_padding_.right;
    const int height =
        fixed_height() != 0 ? fixed_height() : line_height + 8 + text_padding_.top + text_padding_.bottom;
    return {width, height};
}

platform::rect label::text_rect() const {
    return {item_.left + text_padding_.left, item_.top + text_padding_.top, item_.right - text_padding_.right,
            item_.bottom - text_padding_.bottom};
}

std::uint32_t label::current_text_color() {
    if (text_color_ == 0) text_color_ = manager_->default_text_color();
    if (disabled_text_color_ == 0) disabled_text_color_ = manager_->disabled_text_color();
    return is_enabled() ? text_color_ : disabled_text_color_;
}

void label::paint_text(paint_target& target) {
    if (text().empty() || manager_ == nullptr) return;
    const std::uint32_t color = current_text_color();
    const unsigned style = text_style_ | DT_NOPREFIX;
    if (show_html_) {
        int link_count = 0;
        render_engine::draw_markup_text(target, *manager_, text_rect(), text(), color, font_, style, nullptr, nullptr,
                                        link_count, 0, -1);
    } else {
        render_engine::draw_text(target, *manager_, text_rect(), text(), color, font_, style);
    }
}

}  // namespace skinui
