// FreeType text for the button captions; the face is required to be the
// WenQuanYi Micro Hei file so that the artwork comes out the same every time.
#include "tools/skin_art/caption_font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <climits>
#include <vector>

namespace skin_art {

namespace {

const char* const CAPTION_FAMILY = "WenQuanYi Micro Hei";

// The font file of CAPTION_FAMILY, or empty when fontconfig has no such family.
std::string find_font_file(int& index) {
    std::string file;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) return file;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(CAPTION_FAMILY));
    if (pattern) {
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pattern, &result);
        FcChar8* family = nullptr;
        FcChar8* path = nullptr;
        if (match && FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch &&
            std::string(reinterpret_cast<char*>(family)) == CAPTION_FAMILY &&
            FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) {
            file = reinterpret_cast<char*>(path);
            if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        }
        if (match) FcPatternDestroy(match);
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return file;
}

struct glyph_run {
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;  // ink box, baseline at 0
};

}  // namespace

caption_font::caption_font() {
    int index = 0;
    std::string file = find_font_file(index);
    if (file.empty()) {
        error_ = std::string("font family not found: ") + CAPTION_FAMILY;
        return;
    }
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        error_ = "FreeType could not start";
        return;
    }
    library_ = library;
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.c_str(), index, &face) != 0) {
        error_ = "cannot open font file " + file;
        return;
    }
    face_ = face;
}

caption_font::~caption_font() {
    if (face_) FT_Done_Face(static_cast<FT_Face>(face_));
    if (library_) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

bool caption_font::draw_centred(canvas& target, const std::u32string& text, int pixel_size, const round_box& box,
                                const colour& c) {
    if (!face_) return false;
    FT_Face face = static_cast<FT_Face>(face_);
    if (FT_Set_Pixel_Sizes(face, 0, pixel_size) != 0) return false;
    const FT_Int32 flags = FT_LOAD_RENDER | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT;

    // First pass: the ink box of the whole run, to centre it optically.
    glyph_run run;
    int pen = 0;
    for (char32_t ch : text) {
        if (FT_Load_Char(face, ch, flags) != 0) return false;
        FT_GlyphSlot g = face->glyph;
        run.left = std::min(run.left, pen + g->bitmap_left);
        run.right = std::max(run.right, pen + g->bitmap_left + static_cast<int>(g->bitmap.width));
        run.top = std::min(run.top, -g->bitmap_top);
        run.bottom = std::max(run.bottom, -g->bitmap_top + static_cast<int>(g->bitmap.rows));
        pen += static_cast<int>(g->advance.x >> 6);
    }
    if (run.left > run.right) return false;
    int origin_x = static_cast<int>((box.left + box.right - (run.right - run.left)) / 2) - run.left;
    int baseline = static_cast<int>((box.top + box.bottom - (run.bottom - run.top)) / 2) - run.top;

    // Second pass: blend each glyph's coverage.
    pen = origin_x;
    for (char32_t ch : text) {
        if (FT_Load_Char(face, ch, flags) != 0) return false;
        FT_GlyphSlot g = face->glyph;
        target.blend_mask(pen + g->bitmap_left, baseline - g->bitmap_top, static_cast<int>(g->bitmap.width),
                          static_cast<int>(g->bitmap.rows), g->bitmap.buffer, g->bitmap.pitch, c);
        pen += static_cast<int>(g->advance.x >> 6);
    }
    return true;
}

}  // namespace skin_art
