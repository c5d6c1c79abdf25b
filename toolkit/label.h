// A control that draws one text in a font, colour and style.
#pragma once

#include <cstdint>

#include "toolkit/control.h"

namespace skinui {

class label : public control {
public:
    label();
    std::wstring_view class_name() const override { return L"Label"; }

    int font() const { return font_; }
    void set_font(int index);
    std::uint32_t text_color() const { return text_color_; }
    void set_text_color(std::uint32_t color);
    std::uint32_t disabled_text_color() const { return disabled_text_color_; }
    void set_disabled_text_color(std::uint32_t color);
    unsigned text_style() const { return text_style_; }
    void set_text_style(unsigned style);
    const platform::rect& text_padding() const { return text_padding_; }
    void set_text_padding(const platform::rect& padding);
    bool show_html() const { return show_html_; }
    void set_show_html(bool show);

    void set_attribute(std::wstring_view name, std::wstring_view value) override;
    platform::size estimate_size(platform::size available) override;
    void paint_text(paint_target& target) override;

protected:
    // The text area: the item rectangle minus the text padding.
    platform::rect text_rect() const;
    // Colours of 0 take the window's defaults at the first painting.
    std::uint32_t current_text_color();

    int font_ = -1;
    std::uint32_t text_color_ = 0;
    std::uint32_t disabled_text_color_ = 0;
    unsigned text_style_;
    platform::rect text_padding_;
    bool show_html_ = false;

private:
    friend struct label_setters;
};

}  // namespace skinui
