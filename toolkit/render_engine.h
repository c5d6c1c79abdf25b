// Drawing of images and text for the controls: image attribute strings,
// scaled and blended images, single-line, word-wrapped and markup text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/surface.h"

namespace skinui {

class paint_manager;
class font_table;
class image_cache;
struct font_info;

// A decoded image: premultiplied BGRA pixels.
struct image_info {
    surface bitmap;
    bool has_alpha = false;  // some pixel is not fully opaque
};

// One image slot of a control (bkimage, normalimage, foreimage ...).
struct draw_info {
    std::wstring attribute;             // the image attribute string as given
    std::wstring image_name;            // parsed "file" (or the whole string)
    bool parsed = false;                // parsed and load tried once
    const image_info* image = nullptr;  // owned by the window's image cache
    rect dest;                          // offsets from the control's top left; all 0 = whole control
    rect source;                        // all 0 = whole image
    rect corner;
    std::uint8_t fade = 255;
    bool hole = false;
    bool xtiled = false;
    bool ytiled = false;

    void set(std::wstring_view new_attribute);  // clears everything else
    void clear();
};

// Text styles (the DrawText flags the controls use; Win32 values).
inline constexpr unsigned DT_LEFT = 0x0;
inline constexpr unsigned DT_CENTER = 0x1;
inline constexpr unsigned DT_RIGHT = 0x2;
inline constexpr unsigned DT_VCENTER = 0x4;
inline constexpr unsigned DT_BOTTOM = 0x8;
inline constexpr unsigned DT_WORDBREAK = 0x10;
inline constexpr unsigned DT_SINGLELINE = 0x20;
inline constexpr unsigned DT_NOPREFIX = 0x800;
inline constexpr unsigned DT_END_ELLIPSIS = 0x8000;

inline constexpr int max_links = 8;

// Where painting goes: the target surface and the clip rectangle.
struct paint_target {
    surface& bits;
    rect clip;
};

namespace render_engine {

// Parses info.attribute on first use and loads the image through the cache;
// draws it into control_rect (or its dest) scaled from its source. False
// when nothing was drawn.
bool draw_image(paint_target& target, paint_manager& manager, const rect& control_rect, draw_info& info);

// Draws text in colour 0xAARRGGBB (alpha ignored) with the manager's font
// font_index (-1 or unknown: the default font) and the DT_* style.
void draw_text(paint_target& target, paint_manager& manager, const rect& text_rect, std::wstring_view text,
               std::uint32_t color, int font_index, unsigned style);

// Markup text with {a}...{/a} links: records up to max_link_slots link
// rectangles and link texts; the link hovered_link is drawn in the hover colour.
void draw_markup_text(paint_target& target, paint_manager& manager, const rect& text_rect, std::wstring_view text,
                      std::uint32_t color, int font_index, unsigned style, rect* link_rects, std::wstring* link_texts,
                      int& link_count, int max_link_slots, int hovered_link);

// Width and height of a single line of text in the given font.
size measure_text(paint_manager& manager, std::wstring_view text, int font_index);

}  // namespace render_engine
}  // namespace skinui
