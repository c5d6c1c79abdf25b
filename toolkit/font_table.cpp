// A window's font table: fonts by id, the default font and underlined twins.
#include "toolkit/font_table.h"

#include <algorithm>

#include "toolkit/glyph_source.h"

namespace skinui {
namespace {

// Face names are cut at 32 characters, as LOGFONT holds them.
inline constexpr std::size_t MAX_FACE_LENGTH = 32;

std::unique_ptr<font_info> make_font(const std::wstring& face, int size, bool bold, bool underline, bool italic) {
    auto font = std::make_unique<font_info>();
    font->face = face.substr(0, MAX_FACE_LENGTH);
    font->size = size < 1 ? DEFAULT_FONT_SIZE : size;
    font->bold = bold;
    font->underline = underline;
    font->italic = italic;
    realize_font(*font);
    return font;
}

}  // namespace

void realize_font(font_info& font) {
    font.glyphs = glyph_source::open(font.face, font.size, font.bold, font.italic);
    if (font.glyphs) {
        font.ascent = font.glyphs->ascent();
        font.descent = font.glyphs->descent();
        font.average_char_width = font.glyphs->average_char_width();
    } else {
        // No face at all: text measures as blank space of the nominal size.
        font.ascent = font.size;
        font.descent = (font.size + 3) / 4;
        font.average_char_width = (font.size + 1) / 2;
    }
    font.height = font.ascent + font.descent;
}

font_table::font_table()
    : system_default_(make_font(DEFAULT_FONT_FACE, DEFAULT_FONT_SIZE, false, false, false)),
      default_font_(system_default_.get()) {}

font_table::~font_table() = default;

font_info* font_table::add(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic) {
    std::unique_ptr<font_info>& slot = fonts_[id];
    // A replaced default stays the default under its id.
    const bool was_default = slot && default_font_ == slot.get();
    if (slot) underlined_.erase(slot.get());
    slot = make_font(face, size, bold, underline, italic);
    if (was_default) default_font_ = slot.get();
    return slot.get();
}

void font_table::set_default(int id) {
    if (auto it = fonts_.find(id); it != fonts_.end()) default_font_ = it->second.get();
}

font_info* font_table::get(int index) {
    if (auto it = fonts_.find(index); index >= 0 && it != fonts_.end()) return it->second.get();
    return default_font_;
}

font_info* font_table::underlined(int index) {
    font_info* base = get(index);
    if (base->underline) return base;
    std::unique_ptr<font_info>& twin = underlined_[base];
    if (!twin) {
        twin = std::make_unique<font_info>(*base);
        twin->underline = true;  // same face and glyphs, drawn with a line
    }
    return twin.get();
}

}  // namespace skinui
