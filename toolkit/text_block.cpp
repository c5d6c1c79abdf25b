// A word-wrapping label whose markup links raise "link" when clicked.
#include "toolkit/text_block.h"

#include <algorithm>

#include "platform/window.h"
#include "toolkit/paint_manager.h"

namespace skinui {

text_block::text_block() {
    text_style_ = DT_WORDBREAK;
    text_padding_ = {2, 0, 2, 0};
}

int text_block::link_at(platform::point pt) const {
    for (int i = 0; i < link_count_; ++i) {
        if (link_rects_[static_cast<std::size_t>(i)].contains(pt)) return i;
    }
    return -1;
}

void text_block::set_hovered_link(int index) {
    if (hovered_link_ == index) return;
    hovered_link_ = index;
    invalidate();
}

void text_block::do_event(ui_event& event) {
    switch (event.kind) {
        case ui_event_kind::set_cursor:
            platform::set_cursor(is_enabled() && link_at(event.mouse_pos) >= 0 ? platform::cursor_kind::hand
                                                                               : platform::cursor_kind::arrow);
            return;
        case ui_event_kind::button_up: {
            const int link = is_enabled() ? link_at(event.mouse_pos) : -1;
            if (link >= 0 && manager_ != nullptr)
                manager_->send_notify(this, L"link", static_cast<platform::wparam>(link));
            return;
        }
        case ui_event_kind::mouse_move:
            set_hovered_link(is_enabled() ? link_at(event.mouse_pos) : -1);
            return;
        case ui_event_kind::mouse_leave:
            set_hovered_link(-1);
            return;
        default:
            label::do_event(event);
    }
}

void text_block::paint_text(paint_target& target) {
    if (text().empty() || manager_ == nullptr || !show_html_) {
        link_count_ = 0;
        label::paint_text(target);
        return;
    }
    const std::uint32_t color = current_text_color();
    int count = 0;
    render_engine::draw_markup_text(target, *manager_, text_rect(), text(), color, font_, text_style_ | DT_NOPREFIX,
                                    link_rects_.data(), link_texts_.data(), count, max_links, hovered_link_);
    link_count_ = std::clamp(count, 0, max_links);
}

}  // namespace skinui
