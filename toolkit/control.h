// The base of every control: common properties, attributes, layout hooks,
// painting steps and events.
#pragma once

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "toolkit/notify_event.h"
#include "toolkit/render_engine.h"
#include "toolkit/ui_event.h"

namespace skinui {

class paint_manager;
class container;

// One attribute of a class's setter table.
template <class T>
struct attribute_setter {
    std::wstring_view name;
    void (*apply)(T& target, std::wstring_view value);
};

// Looks name up in a setter table (case-sensitive); false when not there.
template <class T>
bool apply_attribute(std::span<const attribute_setter<T>> table, T& target, std::wstring_view name,
                     std::wstring_view value) {
    for (const auto& setter : table) {
        if (setter.name == name) {
            setter.apply(target, value);
            return true;
        }
    }
    return false;
}

inline constexpr int DEFAULT_MAX_SIZE = 9999;

class control {
public:
    control();
    virtual ~control();
    control(const control&) = delete;
    control& operator=(const control&) = delete;

    virtual std::wstring_view class_name() const { return L"Control"; }
    virtual container* as_container() { return nullptr; }

    // Binding to a window; init runs the control's own initialisation.
    virtual void set_manager(paint_manager* manager, control* parent, bool init);
    paint_manager* manager() const { return manager_; }
    control* parent() const { return parent_; }

    // Attributes from markup; unknown names are kept as custom attributes.
    virtual void set_attribute(std::wstring_view name, std::wstring_view value);
    // A list of name="value" pairs separated by blanks (default attributes).
    void apply_attribute_list(std::wstring_view list);
    std::wstring custom_attribute(std::wstring_view name) const;

    const std::wstring& name() const { return name_; }
    void set_name(std::wstring_view name) { name_ = name; }
    const std::wstring& text() const { return text_; }
    virtual void set_text(std::wstring_view text);

    bool is_visible() const { return visible_; }
    virtual void set_visible(bool visible);
    bool is_enabled() const { return enabled_; }
    virtual void set_enabled(bool enabled);
    bool is_mouse_enabled() const { return mouse_enabled_; }
    void set_mouse_enabled(bool enabled) { mouse_enabled_ = enabled; }
    bool is_keyboard_enabled() const { return keyboard_enabled_; }
    void set_keyboard_enabled(bool enabled) { keyboard_enabled_ = enabled; }
    // Tab stops take the keyboard focus with Tab and on the first paint.
    virtual bool is_tab_stop() const { return false; }

    bool is_float() const { return float_; }
    void set_float(bool floating);
    const double* float_anchor() const { return float_anchor_; }  // left, top, right, bottom fractions
    platform::point fixed_xy() const { return fixed_xy_; }
    int fixed_width() const { return fixed_width_; }
    int fixed_height() const { return fixed_height_; }
    void set_fixed_xy(platform::point xy);
    void set_fixed_width(int width);    // negative values are ignored
    void set_fixed_height(int height);  // negative values are ignored
    int min_width() const { return min_width_; }
    int min_height() const { return min_height_; }
    // A maximum below the minimum counts as the minimum.
    int max_width() const { return max_width_ < min_width_ ? min_width_ : max_width_; }
    int max_height() const { return max_height_ < min_height_ ? min_height_ : max_height_; }
    void set_min_width(int value);
    void set_min_height(int value);
    void set_max_width(int value);
    void set_max_height(int value);
    const platform::rect& padding() const { return padding_; }
    void set_padding(const platform::rect& padding);
    void set_bk_image(std::wstring_view image);
    const draw_info& bk_image() const { return bk_image_; }

    // Layout: the item rectangle in client pixels.
    const platform::rect& pos() const { return item_; }
    virtual void set_pos(platform::rect rc, bool invalidate = true);
    // The size the control wants in the available size (0: no wish).
    virtual platform::size estimate_size(platform::size available);

    // The control under a client point (this, a child, or null).
    virtual control* find_control(platform::point pt);

    // Painting: clips to the control, then runs the steps of do_paint.
    virtual void paint(paint_target& target, const platform::rect& paint_rect);
    virtual void do_paint(paint_target& target, const platform::rect& paint_rect);
    virtual void paint_bk_image(paint_target& target);
    virtual void paint_status_image(paint_target& target);
    virtual void paint_text(paint_target& target);

    virtual void do_event(ui_event& event);
    virtual bool activate();

    // Repaints the control's rectangle; need_update lays the window out again.
    void invalidate();
    void need_update();

    // Subscribers to this control's notifications, called before the window's receivers.
    void subscribe(std::function<void(notify_event&)> subscriber);
    void notify_subscribers(notify_event& event);

protected:
    virtual void do_init() {}

    paint_manager* manager_ = nullptr;
    control* parent_ = nullptr;
    platform::rect item_;
    draw_info bk_image_;

private:
    void set_float_attribute(std::wstring_view value);
    friend struct control_setters;

    std::wstring name_;
    std::wstring text_;
    bool visible_ = true;
    bool enabled_ = true;
    bool mouse_enabled_ = true;
    bool keyboard_enabled_ = true;
    bool float_ = false;
    double float_anchor_[4] = {0, 0, 0, 0};
    platform::point fixed_xy_;
    int fixed_width_ = 0;
    int fixed_height_ = 0;
    int min_width_ = 0;
    int min_height_ = 0;
    int max_width_ = DEFAULT_MAX_SIZE;
    int max_height_ = DEFAULT_MAX_SIZE;
    platform::rect padding_;
    std::map<std::wstring, std::wstring, std::less<>> custom_attributes_;
    std::vector<std::function<void(notify_event&)>> subscribers_;
};

}  // namespace skinui
