// A label that can be pressed: state images, hand cursor, "click".
#include "toolkit/button.h"

#include <array>

#include "platform/window.h"
#include "toolkit/paint_manager.h"

namespace skinui {

struct button_setters {
    static constexpr std::array<attribute_setter<button>, 6> table{{
        {L"normalimage", [](button& c, std::wstring_view v) { c.set_normal_image(v); }},
        {L"hotimage", [](button& c, std::wstring_view v) { c.set_hot_image(v); }},
        {L"pushedimage", [](button& c, std::wstring_view v) { c.set_pushed_image(v); }},
        {L"focusedimage", [](button& c, std::wstring_view v) { c.set_focused_image(v); }},
        {L"disabledimage", [](button& c, std::wstring_view v) { c.set_disabled_image(v); }},
        {L"foreimage", [](button& c, std::wstring_view v) { c.set_fore_image(v); }},
    }};
};

button::button() {
    text_style_ = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

bool button::is_tab_stop() const {
    return is_visible() && is_enabled() && is_keyboard_enabled();
}

void button::replace_image(button& target, draw_info& slot, std::wstring_view image) {
    if (slot.attribute == image) return;
    slot.set(image);
    target.invalidate();
}

void button::set_normal_image(std::wstring_view image) {
    replace_image(*this, normal_image_, image);
}
void button::set_hot_image(std::wstring_view image) {
    replace_image(*this, hot_image_, image);
}
void button::set_pushed_image(std::wstring_view image) {
    replace_image(*this, pushed_image_, image);
}
void button::set_focused_image(std::wstring_view image) {
    replace_image(*this, focused_image_, image);
}
void button::set_disabled_image(std::wstring_view image) {
    replace_image(*this, disabled_image_, image);
}
void button::set_fore_image(std::wstring_view image) {
    replace_image(*this, fore_image_, image);
}

void button::set_enabled(bool enabled) {
    label::set_enabled(enabled);
    set_state(enabled ? (state_ & ~UISTATE_DISABLED) : (UISTATE_DISABLED));
}

void button::set_attribute(std::wstring_view name, std::wstring_view value) {
    if (apply_attribute<button>(button_setters::table, *this, name, value)) return;
    label::set_attribute(name, value);
}

void button::set_state(unsigned state) {
    if (state_ == state) return;
    state_ = state;
    invalidate();
}

void button::on_button_up(const ui_event& event) {
    if ((state_ & UISTATE_CAPTURED) == 0) return;
    const bool inside = item_.contains(event.mouse_pos);
    set_state(state_ & ~(UISTATE_PUSHED | UISTATE_CAPTURED));
    if (inside && is_enabled()) activate();
}

void button::do_event(ui_event& event) {
    switch (event.kind) {
        case ui_event_kind::set_focus:
            set_state(state_ | UISTATE_FOCUSED);
            return;
        case ui_event_kind::kill_focus:
            set_state(state_ & ~UISTATE_FOCUSED);
            return;
        case ui_event_kind::key_down:
            if ((event.key == platform::VK_SPACE || event.key == platform::VK_RETURN) && is_enabled() &&
                is_keyboard_enabled()) {
                activate();
            }
            return;
        case ui_event_kind::button_down:
        case ui_event_kind::double_click:
            if (item_.contains(event.mouse_pos) && is_enabled()) set_state(state_ | UISTATE_PUSHED | UISTATE_CAPTURED);
            return;
        case ui_event_kind::mouse_move:
            if ((state_ & UISTATE_CAPTURED) != 0) {
                const bool inside = item_.contains(event.mouse_pos);
                set_state(inside ? (state_ | UISTATE_PUSHED) : (state_ & ~UISTATE_PUSHED));
            }
            return;
        case ui_event_kind::button_up:
            on_button_up(event);
            return;
        case ui_event_kind::mouse_enter:
            if (is_enabled()) set_state(state_ | UISTATE_HOT);
            return;
        case ui_event_kind::mouse_leave:
            set_state(state_ & ~UISTATE_HOT);
            return;
        case ui_event_kind::set_cursor:
            platform::set_cursor(platform::cursor_kind::hand);
            return;
        default:
            label::do_event(event);
    }
}

bool button::activate() {
    if (!control::activate()) return false;
    if (manager_ != nullptr) manager_->send_notify(this, L"click");
    return true;
}

// The image of the current state, falling back to the normal image when that
// one is not set or cannot be drawn; then the fore image.
void button::paint_status_image(paint_target& target) {
    if (manager_ == nullptr) return;
    draw_info* chosen = nullptr;
    if ((state_ & UISTATE_DISABLED) != 0) {
        chosen = &disabled_image_;
    } else if ((state_ & UISTATE_PUSHED) != 0) {
        chosen = &pushed_image_;
    } else if ((state_ & UISTATE_HOT) != 0) {
        chosen = &hot_image_;
    } else if ((state_ & UISTATE_FOCUSED) != 0) {
        chosen = &focused_image_;
    }
    const bool drawn =
        chosen != nullptr && !chosen->attribute.empty() && render_engine::draw_image(target, *manager_, item_, *chosen);
    if (!drawn && !normal_image_.attribute.empty()) render_engine::draw_image(target, *manager_, item_, normal_image_);
    if (!fore_image_.attribute.empty()) render_engine::draw_image(target, *manager_, item_, fore_image_);
}

}  // namespace skinui
