// Glyphs through FreeType, from the font files the platform names for a face
// and for the characters it lacks.
#include "toolkit/glyph_source.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/debug_output.h"
#include "platform/font_lookup.h"
#include "platform/text.h"

namespace skinui {
namespace {

int round_26_6(FT_Pos value) {
    return static_cast<int>((value + 32) >> 6);
}

}  // namespace

struct glyph_source::impl {
    struct face_slot {
        FT_Face face = nullptr;
        bool embolden = false;
        bool oblique = false;
    };

    std::wstring face_name;
    int size = 12;
    bool bold = false;
    bool italic = false;
    FT_Library library = nullptr;
    std::vector<face_slot> faces;     // the main face first, then stand-ins opened so far
    std::vector<std::string> opened;  // "path#index" of every face tried
    std::size_t next_fallback = 0;

    ~impl() {
        for (face_slot& slot : faces) FT_Done_Face(slot.face);
        if (library != nullptr) FT_Done_FreeType(library);
    }

    bool open_face(const platform::font_file& file) {
        opened.push_back(file.path + "#" + std::to_string(file.index));
        FT_Face face = nullptr;
        if (FT_New_Face(library, file.path.c_str(), file.index, &face) != 0) return false;
        if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size)) != 0) {
            FT_Done_Face(face);
            return false;
        }
        face_slot slot;
        slot.face = face;
        slot.embolden = bold && (face->style_flags & FT_STYLE_FLAG_BOLD) == 0;
        slot.oblique = italic && (face->style_flags & FT_STYLE_FLAG_ITALIC) == 0;
        faces.push_back(slot);
        return true;
    }

    bool was_opened(const platform::font_file& file) const {
        return std::find(opened.begin(), opened.end(), file.path + "#" + std::to_string(file.index)) != opened.end();
    }

    // The first face that has the character: those open, then the stand-ins
    // that the platform names for it. Null when none has it.
    const face_slot* face_for(char32_t ch, FT_UInt& index) {
        for (const face_slot& slot : faces) {
            if ((index = FT_Get_Char_Index(slot.face, ch)) != 0) return &slot;
        }
        for (const platform::font_file& file : platform::fallback_font_files(face_name, bold, italic, ch)) {
            if (was_opened(file) || !open_face(file)) continue;
            if ((index = FT_Get_Char_Index(faces.back().face, ch)) != 0) return &faces.back();
        }
        return nullptr;
    }
};

std::shared_ptr<glyph_source> glyph_source::open(const std::wstring& face, int size, bool bold, bool italic) {
    auto state = std::make_unique<impl>();
    state->face_name = face;
    state->size = std::clamp(size, 1, 512);
    state->bold = bold;
    state->italic = italic;
    platform::font_file main;
    if (!platform::find_font_file(face, bold, italic, main)) {
        platform::debug_output("[TamsaUpdate]: no font file for \"" + platform::wide_to_utf8(face) + "\"\n");
        return nullptr;
    }
    if (FT_Init_FreeType(&state->library) != 0) {
        state->library = nullptr;
        platform::debug_output(std::string("[TamsaUpdate]: FreeType could not be initialised\n"));
        return nullptr;
    }
    if (!state->open_face(main)) {
        platform::debug_output("[TamsaUpdate]: could not open font file " + main.path + "\n");
        return nullptr;
    }
    return std::shared_ptr<glyph_source>(new glyph_source(std::move(state)));
}

glyph_source::glyph_source(std::unique_ptr<impl> state) : impl_(std::move(state)) {
    FT_Face face = impl_->faces.front().face;
    const FT_Size_Metrics& metrics = face->size->metrics;
    ascent_ = static_cast<int>((metrics.ascender + 63) >> 6);
    descent_ = static_cast<int>((-metrics.descender + 63) >> 6);
    if (ascent_ + descent_ <= 0) {
        ascent_ = impl_->size;
        descent_ = impl_->size / 4;
    }
    if (FT_IS_SCALABLE(face)) {
        underline_offset_ = std::max(1, round_26_6(-FT_MulFix(face->underline_position, metrics.y_scale)));
        underline_thickness_ = std::max(1, round_26_6(FT_MulFix(face->underline_thickness, metrics.y_scale)));
    }
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 != nullptr && os2->xAvgCharWidth > 0) {
        average_char_width_ = round_26_6(FT_MulFix(os2->xAvgCharWidth, metrics.x_scale));
    } else {
        average_char_width_ = get(U'x').advance;
    }
}

glyph_source::~glyph_source() = default;

std::string glyph_source::family() const {
    const char* name = impl_->faces.front().face->family_name;
    return name ? name : "";
}

namespace {

void copy_bitmap(const FT_Bitmap& bitmap, glyph& out) {
    out.width = static_cast<int>(bitmap.width);
    out.rows = static_cast<int>(bitmap.rows);
    out.coverage.assign(static_cast<std::size_t>(out.width) * out.rows, 0);
    for (int y = 0; y < out.rows; ++y) {
        const unsigned char* row = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
        std::uint8_t* dst = &out.coverage[static_cast<std::size_t>(y) * out.width];
        for (int x = 0; x < out.width; ++x) {
            if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
                dst[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            } else {
                dst[x] = row[x];
            }
        }
    }
}

glyph render_glyph(FT_Face face, FT_UInt index, bool embolden, bool oblique) {
    glyph out;
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT) != 0 &&
        FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) != 0) {
        return out;
    }
    FT_GlyphSlot slot = face->glyph;
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        if (embolden) FT_GlyphSlot_Embolden(slot);
        if (oblique) FT_GlyphSlot_Oblique(slot);
    }
    out.advance = round_26_6(slot->advance.x);
    // A glyph that cannot be rendered keeps its advance and draws nothing.
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return out;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.buffer == nullptr ||
        (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY && bitmap.pixel_mode != FT_PIXEL_MODE_MONO)) {
        return out;
    }
    out.left = slot->bitmap_left;
    out.top = slot->bitmap_top;
    copy_bitmap(bitmap, out);
    return out;
}

}  // namespace

const glyph& glyph_source::get(char32_t ch) {
    if (auto it = cache_.find(ch); it != cache_.end()) return it->second;
    FT_UInt index = 0;
    const impl::face_slot* slot = impl_->face_for(ch, index);
    // A character no face has is drawn as the main face's missing-glyph box;
    // the first such character of the font is logged.
    if (slot == nullptr) {
        slot = &impl_->faces.front();
        if (!missing_logged_) {
            missing_logged_ = true;
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(ch));
            platform::debug_output("[TamsaUpdate]: no installed font has " + std::string(code) + " (font \"" +
                                   platform::wide_to_utf8(impl_->face_name) +
                                   "\"); such characters are drawn as boxes\n");
        }
    }
    return cache_.emplace(ch, render_glyph(slot->face, index, slot->embolden, slot->oblique)).first->second;
}

}  // namespace skinui
