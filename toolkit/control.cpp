// The base of every control: common properties, attributes, layout hooks,
// painting steps and events.
#include "toolkit/control.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/window.h"
#include "toolkit/attribute_values.h"
#include "toolkit/blend.h"
#include "toolkit/paint_manager.h"

namespace skinui {

// The attributes every control understands.
struct control_setters {
    static void pos(control& c, std::wstring_view v) {
        const rect r = parse_rect(v);
        c.set_fixed_xy({r.left, r.top});
        c.set_fixed_width(r.right - r.left);
        c.set_fixed_height(r.bottom - r.top);
    }
    static constexpr std::array<attribute_setter<control>, 17> table{{
        {L"pos", &pos},
        {L"width", [](control& c, std::wstring_view v) { c.set_fixed_width(parse_int(v)); }},
        {L"height", [](control& c, std::wstring_view v) { c.set_fixed_height(parse_int(v)); }},
        {L"minwidth", [](control& c, std::wstring_view v) { c.set_min_width(parse_int(v)); }},
        {L"minheight", [](control& c, std::wstring_view v) { c.set_min_height(parse_int(v)); }},
        {L"maxwidth", [](control& c, std::wstring_view v) { c.set_max_width(parse_int(v)); }},
        {L"maxheight", [](control& c, std::wstring_view v) { c.set_max_height(parse_int(v)); }},
        {L"padding", [](control& c, std::wstring_view v) { c.set_padding(parse_rect(v)); }},
        {L"float", [](control& c, std::wstring_view v) { c.set_float_attribute(v); }},
        {L"bkimage", [](control& c, std::wstring_view v) { c.set_bk_image(v); }},
        {L"name", [](control& c, std::wstring_view v) { c.set_name(v); }},
        {L"text", [](control& c, std::wstring_view v) { c.set_text(v); }},
        {L"visible", [](control& c, std::wstring_view v) { c.set_visible(parse_bool(v)); }},
        {L"enabled", [](control& c, std::wstring_view v) { c.set_enabled(parse_bool(v)); }},
        {L"mouse", [](control& c, std::wstring_view v) { c.set_mouse_enabled(parse_bool(v)); }},
        {L"keyboard", [](control& c, std::wstring_view v) { c.set_keyboard_enabled(parse_bool(v)); }},
        {L"tooltip", [](control&, std::wstring_view) {}},  // tool tips are not shown by this toolkit
    }};
};

control::control() = default;

control::~control() {
    if (manager_ != nullptr) manager_->reap_objects(this);
}

void control::set_manager(paint_manager* manager, control* parent, bool init) {
    manager_ = manager;
    parent_ = parent;
    if (init && manager_ != nullptr) do_init();
}

void control::set_attribute(std::wstring_view name, std::wstring_view value) {
    if (apply_attribute<control>(control_setters::table, *this, name, value)) return;
    custom_attributes_.insert_or_assign(std::wstring(name), std::wstring(value));
}

// Pairs name="value" separated by blanks; parsing stops at the first pair
// that does not fit.
void control::apply_attribute_list(std::wstring_view list) {
    std::size_t pos = 0;
    while (pos < list.size()) {
        while (pos < list.size() && list[pos] == L' ') ++pos;
        const std::size_t name_start = pos;
        while (pos < list.size() && list[pos] != L'=' && list[pos] != L' ') ++pos;
        const std::wstring_view name = list.substr(name_start, pos - name_start);
        while (pos < list.size() && list[pos] == L' ') ++pos;
        if (name.empty() || pos + 1 >= list.size() || list[pos] != L'=' || list[pos + 1] != L'"') return;
        const std::size_t value_start = pos + 2;
        const std::size_t value_end = list.find(L'"', value_start);
        if (value_end == std::wstring_view::npos) return;
        set_attribute(name, list.substr(value_start, value_end - value_start));
        pos = value_end + 1;
    }
}

std::wstring control::custom_attribute(std::wstring_view name) const {
    const auto found = custom_attributes_.find(name);
    return found == custom_attributes_.end() ? std::wstring() : found->second;
}

void control::set_text(std::wstring_view text) {
    if (text_ == text) return;
    text_ = text;
    invalidate();
}

void control::set_visible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    need_update();
}

void control::set_enabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    invalidate();
}

void control::set_float(bool floating) {
    if (float_ == floating) return;
    float_ = floating;
    need_update();
}

void control::set_float_attribute(std::wstring_view value) {
    if (value.find(L',') == std::wstring_view::npos) {
        set_float(parse_bool(value));
        return;
    }
    parse_fraction_list(value, float_anchor_);
    set_float(true);
}

void control::set_fixed_xy(platform::point xy) {
    fixed_xy_ = xy;
    need_update();
}

void control::set_fixed_width(int width) {
    if (width < 0) return;
    fixed_width_ = width;
    need_update();
}

void control::set_fixed_height(int height) {
    if (height < 0) return;
    fixed_height_ = height;
    need_update();
}

void control::set_min_width(int value) {
    if (value < 0) return;
    min_width_ = value;
    need_update();
}

void control::set_min_height(int value) {
    if (value < 0) return;
    min_height_ = value;
    need_update();
}

void control::set_max_width(int value) {
    if (value < 0) return;
    max_width_ = value;
    need_update();
}

void control::set_max_height(int value) {
    if (value < 0) return;
    max_height_ = value;
    need_update();
}

void control::set_padding(const platform::rect& padding) {
    padding_ = padding;
    need_update();
}

void control::set_bk_image(std::wstring_view image) {
    if (bk_image_.attribute == image) return;
    bk_image_.set(image);
    invalidate();
}

// A right below the left or a bottom above the top is raised to it.
void control::set_pos(platform::rect rc, bool invalidate_now) {
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    if (rc == item_) return;
    if (invalidate_now) invalidate();
    item_ = rc;
    if (invalidate_now) invalidate();
}

platform::size control::estimate_size(platform::size) {
    return {fixed_width_, fixed_height_};
}

control* control::find_control(platform::point pt) {
    if (!visible_ || !item_.contains(pt)) return nullptr;
    return this;
}

void control::paint(paint_target& target, const platform::rect& paint_rect) {
    const rect area = intersect(paint_rect, item_);
    if (area.empty()) return;
    const rect saved = target.clip;
    target.clip = intersect(saved, area);
    if (!target.clip.empty()) do_paint(target, target.clip);
    target.clip = saved;
}

void control::do_paint(paint_target& target, const platform::rect&) {
    paint_bk_image(target);
    paint_status_image(target);
    paint_text(target);
}

void control::paint_bk_image(paint_target& target) {
    if (bk_image_.attribute.empty() || manager_ == nullptr) return;
    render_engine::draw_image(target, *manager_, item_, bk_image_);
}

void control::paint_status_image(paint_target&) {}

void control::paint_text(paint_target&) {}

void control::do_event(ui_event& event) {
    if (event.kind == ui_event_kind::set_cursor) platform::set_cursor(platform::cursor_kind::arrow);
}

bool control::activate() {
    return visible_ && enabled_;
}

void control::invalidate() {
    if (!visible_ || manager_ == nullptr || item_.empty()) return;
    manager_->invalidate(item_);
}

void control::need_update() {
    if (manager_ != nullptr) manager_->need_update();
}

void control::subscribe(std::function<void(notify_event&)> subscriber) {
    subscribers_.push_back(std::move(subscriber));
}

void control::notify_subscribers(notify_event& event) {
    // A copy: a subscriber may subscribe others while being called.
    const auto subscribers = subscribers_;
    for (const auto& subscriber : subscribers) subscriber(event);
}

}  // namespace skinui
