// The render engine's entry points for the controls: each takes what it
// needs from the window's paint manager and draws.
#include "toolkit/render_engine.h"

#include "toolkit/font_table.h"
#include "toolkit/image_cache.h"
#include "toolkit/image_drawing.h"
#include "toolkit/paint_manager.h"
#include "toolkit/text_renderer.h"

namespace skinui::render_engine {

bool draw_image(paint_target& target, paint_manager& manager, const rect& control_rect, draw_info& info) {
    return draw_image_slot(target, manager.images(), control_rect, info);
}

void draw_text(paint_target& target, paint_manager& manager, const rect& text_rect, std::wstring_view text,
               std::uint32_t color, int font_index, unsigned style) {
    draw_plain_text(target, manager.fonts().get(font_index), text_rect, text, color, style | DT_NOPREFIX);
}

void draw_markup_text(paint_target& target, paint_manager& manager, const rect& text_rect, std::wstring_view text,
                      std::uint32_t color, int font_index, unsigned style, rect* link_rects, std::wstring* link_texts,
                      int& link_count, int max_link_slots, int hovered_link) {
    markup_context context{manager.fonts(), font_index, color, manager.link_color(), manager.link_hover_color()};
    link_slots links;
    links.rects = link_rects;
    links.texts = link_texts;
    links.max_slots = max_link_slots;
    links.hovered = hovered_link;
    draw_markup(target, context, text_rect, text, style | DT_NOPREFIX, links);
    link_count = links.count;
}

size measure_text(paint_manager& manager, std::wstring_view text, int font_index) {
    return measure_line(manager.fonts().get(font_index), text);
}

}  // namespace skinui::render_engine
