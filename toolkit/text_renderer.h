// Text drawing on a surface: lines laid out in one or more fonts (word
// break, alignment, end ellipsis), glyphs blended in the text colour, and
// the markup subset with {a}...{/a} links.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/render_engine.h"

namespace skinui {

// Size of one line of text: the sum of the advances and the font height.
size measure_line(font_info* font, std::wstring_view text);

// Draws text in 0xAARRGGBB (alpha ignored) with one font and DrawText-like
// styles; "&" is always literal. Clipped to text_rect and target.clip.
void draw_plain_text(paint_target& target, font_info* font, const rect& text_rect, std::wstring_view text,
                     std::uint32_t color, unsigned style);

// What markup text needs from its window.
struct markup_context {
    font_table& fonts;
    int font_index = -1;
    std::uint32_t color = 0;
    std::uint32_t link_color = 0;
    std::uint32_t link_hover_color = 0;
};

// Where the links of a markup text are recorded: up to max_slots rectangles
// and link texts (either array may be null); count receives how many. The
// link recorded in slot hovered is drawn in the hover colour.
struct link_slots {
    rect* rects = nullptr;
    std::wstring* texts = nullptr;
    int count = 0;
    int max_slots = 0;
    int hovered = -1;
};

void draw_markup(paint_target& target, const markup_context& context, const rect& text_rect, std::wstring_view text,
                 unsigned style, link_slots& links);

}  // namespace skinui
