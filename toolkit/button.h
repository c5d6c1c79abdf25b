// A label that can be pressed: state images, hand cursor, "click".
#pragma once

#include "toolkit/label.h"

namespace skinui {

// Button state bits.
inline constexpr unsigned UISTATE_FOCUSED = 0x01;
inline constexpr unsigned UISTATE_HOT = 0x02;
inline constexpr unsigned UISTATE_PUSHED = 0x04;
inline constexpr unsigned UISTATE_CAPTURED = 0x08;
inline constexpr unsigned UISTATE_DISABLED = 0x10;

class button : public label {
public:
    button();
    std::wstring_view class_name() const override { return L"Button"; }

    unsigned state() const { return state_; }
    bool is_tab_stop() const override;

    void set_normal_image(std::wstring_view image);
    void set_hot_image(std::wstring_view image);
    void set_pushed_image(std::wstring_view image);
    void set_focused_image(std::wstring_view image);
    void set_disabled_image(std::wstring_view image);
    void set_fore_image(std::wstring_view image);
    const draw_info& normal_image() const { return normal_image_; }

    void set_enabled(bool enabled) override;
    void set_attribute(std::wstring_view name, std::wstring_view value) override;
    void do_event(ui_event& event) override;
    bool activate() override;
    void paint_status_image(paint_target& target) override;

private:
    friend struct button_setters;
    static void replace_image(button& target, draw_info& slot, std::wstring_view image);
    void set_state(unsigned state);
    void on_button_up(const ui_event& event);

    unsigned state_ = 0;
    draw_info normal_image_;
    draw_info hot_image_;
    draw_info pushed_image_;
    draw_info focused_image_;
    draw_info disabled_image_;
    draw_info fore_image_;
};

}  // namespace skinui
