// A progress bar: a background image and a fore image cut to the value.
#include "toolkit/progress.h"

#include <array>
#include <cstdint>

#include "toolkit/attribute_values.h"
#include "toolkit/paint_manager.h"

namespace skinui {

struct progress_setters {
    static constexpr std::array<attribute_setter<progress>, 5> table{{
        {L"foreimage", [](progress& c, std::wstring_view v) { c.set_fore_image(v); }},
        {L"hor", [](progress& c, std::wstring_view v) { c.set_horizontal(parse_bool(v)); }},
        {L"min", [](progress& c, std::wstring_view v) { c.set_min_value(parse_int(v)); }},
        {L"max", [](progress& c, std::wstring_view v) { c.set_max_value(parse_int(v)); }},
        {L"value", [](progress& c, std::wstring_view v) { c.set_value(parse_int(v)); }},
    }};
};

progress::progress() {
    set_fixed_height(12);
    text_style_ = DT_SINGLELINE | DT_CENTER;
}

void progress::set_min_value(int value) {
    min_ = value;
    invalidate();
}

void progress::set_max_value(int value) {
    max_ = value;
    invalidate();
}

void progress::set_value(int value) {
    if (value < min_) value = min_;
    if (value > max_) value = max_;
    if (value == value_) return;
    value_ = value;
    invalidate();
}

void progress::set_horizontal(bool horizontal) {
    if (horizontal_ == horizontal) return;
    horizontal_ = horizontal;
    invalidate();
}

void progress::set_fore_image(std::wstring_view image) {
    if (fore_image_.attribute == image && fore_image_.image != nullptr) return;
    fore_image_.set(image);
    invalidate();
}

// Integer arithmetic on a valid range (maximum above minimum, value inside).
platform::rect progress::fill_rect() const {
    const std::int64_t low = min_;
    const std::int64_t high = max_ <= min_ ? low + 1 : static_cast<std::int64_t>(max_);
    const std::int64_t current = value_ < low ? low : (value_ > high ? high : value_);
    const std::int64_t width = item_.width();
    const std::int64_t height = item_.height();
    if (horizontal_) return {0, 0, static_cast<int>(width * (current - low) / (high - low)), static_cast<int>(height)};
    return {0, static_cast<int>(height * (high - current) / (high - low)), static_cast<int>(width),
            static_cast<int>(height)};
}

void progress::set_attribute(std::wstring_view name, std::wstring_view value) {
    if (apply_attribute<progress>(progress_setters::table, *this, name, value)) return;
    label::set_attribute(name, value);
}

// The fill becomes the fore image's destination; a dest in the string, read
// at this drawing, may still replace it.
void progress::paint_status_image(paint_target& target) {
    if (fore_image_.attribute.empty() || manager_ == nullptr) return;
    fore_image_.dest = fill_rect();
    render_engine::draw_image(target, *manager_, item_, fore_image_);
}

}  // namespace skinui
