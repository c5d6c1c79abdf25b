// A word-wrapping label whose markup links raise "link" when clicked.
#pragma once

#include <array>
#include <string>

#include "toolkit/label.h"

namespace skinui {

class text_block : public label {
public:
    text_block();
    std::wstring_view class_name() const override { return L"Text"; }

    // Links of the last painting, in client pixels.
    int link_count() const { return link_count_; }
    const platform::rect& link_rect(int index) const { return link_rects_[static_cast<std::size_t>(index)]; }
    const std::wstring& link_text(int index) const { return link_texts_[static_cast<std::size_t>(index)]; }
    int hovered_link() const { return hovered_link_; }

    void do_event(ui_event& event) override;
    void paint_text(paint_target& target) override;

private:
    int link_at(platform::point pt) const;  // -1 for none
    void set_hovered_link(int index);

    std::array<platform::rect, max_links> link_rects_{};
    std::array<std::wstring, max_links> link_texts_{};
    int link_count_ = 0;
    int hovered_link_ = -1;
};

}  // namespace skinui
