// A progress bar: a background image and a fore image cut to the value.
#pragma once

#include "toolkit/label.h"

namespace skinui {

class progress : public label {
public:
    progress();
    std::wstring_view class_name() const override { return L"Progress"; }

    int min_value() const { return min_; }
    int max_value() const { return max_; }
    int value() const { return value_; }
    bool is_horizontal() const { return horizontal_; }
    void set_min_value(int value);
    void set_max_value(int value);
    // Clamped to the range known now; repaints only the bar.
    void set_value(int value);
    void set_horizontal(bool horizontal);
    // Replaces the fore image string unless it is the same and loaded.
    void set_fore_image(std::wstring_view image);
    const draw_info& fore_image() const { return fore_image_; }
    // The fill rectangle relative to the control (the fore image's dest).
    platform::rect fill_rect() const;

    void set_attribute(std::wstring_view name, std::wstring_view value) override;
    void paint_status_image(paint_target& target) override;

private:
    friend struct progress_setters;
    int min_ = 0;
    int max_ = 100;
    int value_ = 0;
    bool horizontal_ = true;
    draw_info fore_image_;
};

}  // namespace skinui
