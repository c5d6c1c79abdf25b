// Line layout and glyph drawing for plain and markup text.
#include "toolkit/text_renderer.h"

#include <algorithm>
#include <vector>

#include "toolkit/blend.h"
#include "toolkit/font_table.h"
#include "toolkit/glyph_source.h"

namespace skinui {
namespace {

// One character with the font and colour it is drawn in.
struct styled_char {
    char32_t ch = 0;
    font_info* font = nullptr;
    std::uint32_t color = 0;
    int link = -1;  // which link of the text it belongs to; -1 for none
    int advance = 0;
};

struct text_line {
    std::size_t begin = 0;
    std::size_t end = 0;  // one past the last character drawn
    int width = 0;
    int ascent = 0;
    int height = 0;
};

bool is_line_break(char32_t ch) {
    return ch == U'\n' || ch == U'\r';
}
bool is_space(char32_t ch) {
    return ch == U' ' || ch == U'\t' || ch == 0x3000;
}

// Ideographs, kana, hangul and full-width forms: a line may break between
// two of them without a space.
bool is_wide(char32_t ch) {
    return (ch >= 0x2E80 && ch <= 0x9FFF) || (ch >= 0xAC00 && ch <= 0xD7AF) || (ch >= 0xF900 && ch <= 0xFAFF) ||
           (ch >= 0xFE30 && ch <= 0xFE4F) || (ch >= 0xFF00 && ch <= 0xFFEF) || (ch >= 0x20000 && ch <= 0x3FFFF);
}

// Closing punctuation that must not start a line.
bool is_closing_mark(char32_t ch) {
    static constexpr std::u32string_view MARKS = U"，。、！？：；）」』】》〉〕｝］…’”,.!?:;)]}%";
    return MARKS.find(ch) != std::u32string_view::npos;
}

// Whether a line may break between a and b (b starting the new line).
bool may_break_between(char32_t a, char32_t b) {
    if (is_closing_mark(b)) return false;
    return is_space(a) || is_wide(a) || is_wide(b);
}

int advance_of(font_info* font, char32_t ch) {
    if (font == nullptr || !font->glyphs || is_line_break(ch) || ch < 0x20) return 0;
    return font->glyphs->get(ch).advance;
}

styled_char make_char(char32_t ch, font_info* font, std::uint32_t color, int link) {
    return {ch, font, color, link, advance_of(font, ch)};
}

void finish_line(const std::vector<styled_char>& chars, font_info* base, text_line& line) {
    line.width = 0;
    line.ascent = base ? base->ascent : 0;
    int descent = base ? base->descent : 0;
    for (std::size_t i = line.begin; i < line.end; ++i) {
        line.width += chars[i].advance;
        if (chars[i].font) {
            line.ascent = std::max(line.ascent, chars[i].font->ascent);
            descent = std::max(descent, chars[i].font->descent);
        }
    }
    line.height = line.ascent + descent;
}

// Where the line that starts at begin ends when it may be max_width wide:
// at the last break opportunity that fits, or mid-word when none does.
std::size_t wrap_point(const std::vector<styled_char>& chars, std::size_t begin, std::size_t end, int max_width) {
    int width = 0;
    std::size_t last_break = begin;
    for (std::size_t i = begin; i < end; ++i) {
        if (i > begin && may_break_between(chars[i - 1].ch, chars[i].ch)) last_break = i;
        width += chars[i].advance;
        if (width > max_width && i > begin && !is_space(chars[i].ch)) return last_break > begin ? last_break : i;
    }
    return end;
}

// Splits the characters into lines: at line feeds unless single-line, and
// at break opportunities with DT_WORDBREAK. Blanks at a wrap are dropped.
std::vector<text_line> layout_lines(const std::vector<styled_char>& chars, font_info* base, int max_width,
                                    unsigned style) {
    std::vector<text_line> lines;
    std::size_t start = 0;
    while (start <= chars.size()) {
        std::size_t paragraph_end = start;
        if (style & DT_SINGLELINE) {
            paragraph_end = chars.size();
        } else {
            while (paragraph_end < chars.size() && chars[paragraph_end].ch != U'\n') ++paragraph_end;
        }
        std::size_t begin = start;
        do {
            std::size_t end = paragraph_end;
            if ((style & DT_WORDBREAK) && !(style & DT_SINGLELINE))
                end = wrap_point(chars, begin, paragraph_end, max_width);
            text_line line{begin, end};
            while (end < paragraph_end && line.end > line.begin && is_space(chars[line.end - 1].ch)) --line.end;
            finish_line(chars, base, line);
            lines.push_back(line);
            begin = end;
            while (begin < paragraph_end && begin != start && is_space(chars[begin].ch)) ++begin;
        } while (begin < paragraph_end);
        start = paragraph_end + 1;
    }
    return lines;
}

// With DT_END_ELLIPSIS a single line too wide for the rectangle loses its
// tail to "...".
void apply_end_ellipsis(std::vector<styled_char>& chars, text_line& line, int max_width) {
    if (line.width <= max_width || line.end == line.begin) return;
    const styled_char& last = chars[line.end - 1];
    styled_char dot = make_char(U'.', last.font, last.color, last.link);
    int width = line.width + 3 * dot.advance;
    std::size_t end = line.end;
    while (end > line.begin && width > max_width) width -= chars[--end].advance;
    chars.erase(chars.begin() + static_cast<std::ptrdiff_t>(end),
                chars.begin() + static_cast<std::ptrdiff_t>(line.end));
    chars.insert(chars.begin() + static_cast<std::ptrdiff_t>(end), 3, dot);
    line.end = end + 3;
    line.width = width;
}

int line_left(const rect& box, const text_line& line, unsigned style) {
    if (style & DT_CENTER) return box.left + (box.width() - line.width) / 2;
    if (style & DT_RIGHT) return box.right - line.width;
    return box.left;
}

// Top of the first line. Vertical centring and bottom alignment apply to
// single-line text, as with DrawText.
int block_top(const rect& box, const std::vector<text_line>& lines, unsigned style) {
    if (!(style & DT_SINGLELINE) || lines.empty()) return box.top;
    if (style & DT_VCENTER) return box.top + (box.height() - lines.front().height) / 2;
    if (style & DT_BOTTOM) return box.bottom - lines.front().height;
    return box.top;
}

void draw_glyph(surface& bits, const styled_char& c, int pen_x, int baseline, std::uint32_t color, const rect& clip) {
    if (c.font == nullptr || !c.font->glyphs || c.ch < 0x20 || is_space(c.ch)) return;
    const glyph& g = c.font->glyphs->get(c.ch);
    if (g.coverage.empty()) return;
    blend_mask(bits, pen_x + g.left, baseline - g.top, g.coverage.data(), g.width, g.rows, g.width, color, clip);
}

void draw_underline(surface& bits, const styled_char& c, int pen_x, int baseline, std::uint32_t color,
                    const rect& clip) {
    if (c.font == nullptr || !c.font->underline || c.advance == 0) return;
    const int offset = c.font->glyphs ? c.font->glyphs->underline_offset() : 1;
    const int thickness = c.font->glyphs ? c.font->glyphs->underline_thickness() : 1;
    fill_rect(bits, {pen_x, baseline + offset, pen_x + c.advance, baseline + offset + thickness}, color, clip);
}

struct hover_state {
    int hovered_link = -1;
    std::uint32_t hover_color = 0;
};

// The colour a character is drawn in; characters of the hovered link take
// the hover colour.
std::uint32_t pick_color(const styled_char& c, const hover_state* hover) {
    if (hover != nullptr && c.link >= 0 && c.link == hover->hovered_link) return hover->hover_color;
    return c.color;
}

void draw_lines(paint_target& target, const std::vector<styled_char>& chars, const std::vector<text_line>& lines,
                const rect& box, unsigned style, const hover_state* hover) {
    const rect clip = intersect(intersect(box, target.clip), target.bits.bounds());
    if (clip.empty()) return;
    int top = block_top(box, lines, style);
    for (const text_line& line : lines) {
        if (top >= clip.bottom) break;
        if (top + line.height > clip.top) {
            int pen = line_left(box, line, style);
            const int baseline = top + line.ascent;
            for (std::size_t i = line.begin; i < line.end; ++i) {
                const std::uint32_t color = pick_color(chars[i], hover) & 0x00FFFFFFu;
                draw_glyph(target.bits, chars[i], pen, baseline, color, clip);
                draw_underline(target.bits, chars[i], pen, baseline, color, clip);
                pen += chars[i].advance;
            }
        }
        top += line.height;
    }
}

void draw_styled(paint_target& target, std::vector<styled_char>& chars, font_info* base, const rect& box,
                 unsigned style, const hover_state* hover) {
    std::vector<text_line> lines = layout_lines(chars, base, box.width(), style);
    if ((style & DT_END_ELLIPSIS) && (style & DT_SINGLELINE) && !lines.empty()) {
        apply_end_ellipsis(chars, lines.front(), box.width());
    }
    draw_lines(target, chars, lines, box, style, hover);
}

// A markup tag at pos: "{" or "<", one lowercase letter, then a blank,
// "}" or ">" (or "{/" letter "}" to close). Fills the letter, whether it
// closes, its argument and where it ends; false when pos starts no tag.
struct markup_tag {
    wchar_t letter = 0;
    bool closing = false;
    std::wstring argument;
    std::size_t end = 0;  // one past the closing "}" or ">"
};

bool is_tag_end(wchar_t c) {
    return c == L'}' || c == L'>';
}
bool is_lower(wchar_t c) {
    return c >= L'a' && c <= L'z';
}

bool read_tag(std::wstring_view text, std::size_t pos, markup_tag& tag) {
    if (pos + 2 >= text.size() || (text[pos] != L'{' && text[pos] != L'<')) return false;
    std::size_t at = pos + 1;
    tag.closing = text[at] == L'/';
    if (tag.closing) ++at;
    if (at + 1 >= text.size() || !is_lower(text[at])) return false;
    tag.letter = text[at];
    const wchar_t after = text[at + 1];
    if (tag.closing ? !is_tag_end(after) : (after != L' ' && !is_tag_end(after))) return false;
    std::size_t close = at + 1;
    while (close < text.size() && !is_tag_end(text[close])) ++close;
    if (close >= text.size()) return false;
    std::wstring_view argument = text.substr(at + 1, close - at - 1);
    while (!argument.empty() && argument.front() == L' ') argument.remove_prefix(1);
    while (!argument.empty() && argument.back() == L' ') argument.remove_suffix(1);
    tag.argument = argument;
    tag.end = close + 1;
    return true;
}

}  // namespace

size measure_line(font_info* font, std::wstring_view text) {
    int width = 0;
    for (wchar_t ch : text) width += advance_of(font, static_cast<char32_t>(ch));
    return {width, font ? font->height : 0};
}

void draw_plain_text(paint_target& target, font_info* font, const rect& text_rect, std::wstring_view text,
                     std::uint32_t color, unsigned style) {
    if (text.empty() || font == nullptr || text_rect.empty()) return;
    std::vector<styled_char> chars;
    chars.reserve(text.size());
    for (wchar_t ch : text) chars.push_back(make_char(static_cast<char32_t>(ch), font, color, -1));
    draw_styled(target, chars, font, text_rect, style, nullptr);
}

namespace {

// Turns markup into styled characters; link texts by link number go to
// link_texts.
std::vector<styled_char> parse_markup(const markup_context& context, std::wstring_view text,
                                      std::vector<std::wstring>& link_texts) {
    font_info* plain = context.fonts.get(context.font_index);
    font_info* linked = context.fonts.underlined(context.font_index);
    std::vector<styled_char> chars;
    int link = -1;
    std::size_t pos = 0;
    while (pos < text.size()) {
        markup_tag tag;
        if (read_tag(text, pos, tag)) {
            if (tag.letter == L'a' && !tag.closing) {
                link = static_cast<int>(link_texts.size());
                link_texts.push_back(tag.argument);
            } else if (tag.letter == L'a') {
                link = -1;
            }
            pos = tag.end;  // other tags have no effect here and are not drawn
            continue;
        }
        const char32_t ch = static_cast<char32_t>(text[pos++]);
        chars.push_back(link >= 0 ? make_char(ch, linked, context.link_color, link)
                                  : make_char(ch, plain, context.color, -1));
    }
    return chars;
}

// Records one slot per line piece of each link, clipped to the text
// rectangle; returns the link number of each slot.
std::vector<int> record_links(const std::vector<styled_char>& chars, const std::vector<text_line>& lines,
                              const rect& box, unsigned style, const std::vector<std::wstring>& link_texts,
                              link_slots& links) {
    std::vector<int> slot_links;
    int top = block_top(box, lines, style);
    for (const text_line& line : lines) {
        int pen = line_left(box, line, style);
        for (std::size_t i = line.begin; i < line.end;) {
            const int link = chars[i].link;
            const int start = pen;
            std::size_t j = i;
            for (; j < line.end && chars[j].link == link; ++j) pen += chars[j].advance;
            if (link >= 0 && links.count < links.max_slots) {
                if (links.rects) links.rects[links.count] = intersect({start, top, pen, top + line.height}, box);
                if (links.texts) links.texts[links.count] = link_texts[static_cast<std::size_t>(link)];
                slot_links.push_back(link);
                ++links.count;
            }
            i = j;
        }
        top += line.height;
    }
    return slot_links;
}

}  // namespace

void draw_markup(paint_target& target, const markup_context& context, const rect& text_rect, std::wstring_view text,
                 unsigned style, link_slots& links) {
    links.count = 0;
    links.max_slots = std::max(0, links.max_slots);
    if (text.empty()) return;
    std::vector<std::wstring> link_texts;
    std::vector<styled_char> chars = parse_markup(context, text, link_texts);
    font_info* base = context.fonts.get(context.font_index);
    std::vector<text_line> lines = layout_lines(chars, base, text_rect.width(), style);
    if ((style & DT_END_ELLIPSIS) && (style & DT_SINGLELINE) && !lines.empty()) {
        apply_end_ellipsis(chars, lines.front(), text_rect.width());
    }
    std::vector<int> slot_links = record_links(chars, lines, text_rect, style, link_texts, links);
    hover_state hover;
    hover.hover_color = context.link_hover_color;
    if (links.hovered >= 0 && links.hovered < static_cast<int>(slot_links.size())) {
        hover.hovered_link = slot_links[static_cast<std::size_t>(links.hovered)];
    }
    draw_lines(target, chars, lines, text_rect, style, &hover);
}

}  // namespace skinui
