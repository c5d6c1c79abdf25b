// Fonts through fontconfig (which file holds a face name, and which files
// can stand in for characters it lacks) and FreeType (the glyphs).
#include "toolkit/glyph_source.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/debug_output.h"
#include "platform/text.h"

namespace skinui {
namespace {

// The product's texts are Chinese: faces that cover zh-cn win among the
// stand-ins fontconfig offers for a face name that is not installed.
inline constexpr char PREFERRED_LANGUAGE[] = "zh-cn";
inline constexpr std::size_t MAX_FALLBACK_FILES = 32;

struct font_file {
    std::string path;
    int index = 0;
    const FcCharSet* charset = nullptr;  // owned by the resolution cache
};

struct resolution {
    bool found = false;
    font_file main;
    bool fallbacks_listed = false;
    std::vector<font_file> fallbacks;  // in fontconfig's order of preference
};

using resolution_key = std::tuple<std::wstring, bool, bool>;

// fontconfig is called under one lock; its answers are kept for the process.
std::mutex& fontconfig_lock() {
    static std::mutex lock;
    return lock;
}

std::map<resolution_key, resolution>& resolutions() {
    static std::map<resolution_key, resolution> cache;
    return cache;
}

FcPattern* make_pattern(const std::wstring& face, bool bold, bool italic) {
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) return nullptr;
    std::string family = face.empty() ? std::string("sans-serif") : platform::wide_to_utf8(face);
    // Failures of the adds leave a looser pattern, which still matches.
    (void)FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    (void)FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    (void)FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    (void)FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(PREFERRED_LANGUAGE));
    (void)FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    if (!FcConfigSubstitute(nullptr, pattern, FcMatchPattern)) {
        FcPatternDestroy(pattern);
        return nullptr;
    }
    FcDefaultSubstitute(pattern);
    return pattern;
}

bool file_of(FcPattern* match, font_file& out) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) != FcResultMatch || path == nullptr) return false;
    out.path = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &out.index) != FcResultMatch) out.index = 0;
    FcCharSet* charset = nullptr;
    if (FcPatternGetCharSet(match, FC_CHARSET, 0, &charset) == FcResultMatch && charset != nullptr) {
        out.charset = FcCharSetCopy(charset);
    }
    return true;
}

bool fontconfig_ready() {
    static const bool ready = FcInit() == FcTrue;
    return ready;
}

resolution& resolve_locked(const std::wstring& face, bool bold, bool italic) {
    resolution& entry = resolutions()[{face, bold, italic}];
    if (entry.found || !fontconfig_ready()) return entry;
    FcPattern* pattern = make_pattern(face, bold, italic);
    if (pattern == nullptr) return entry;
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
        entry.found = file_of(match, entry.main);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return entry;
}

void list_fallbacks_locked(const std::wstring& face, bool bold, bool italic, resolution& entry) {
    entry.fallbacks_listed = true;
    FcPattern* pattern = make_pattern(face, bold, italic);
    if (pattern == nullptr) return;
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
    FcPatternDestroy(pattern);
    if (set == nullptr) return;
    for (int i = 0; i < set->nfont && entry.fallbacks.size() < MAX_FALLBACK_FILES; ++i) {
        font_file file;
        if (file_of(set->fonts[i], file)) entry.fallbacks.push_back(std::move(file));
    }
    FcFontSetDestroy(set);
}

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

    bool open_face(const font_file& file) {
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

    bool was_opened(const font_file& file) const {
        return std::find(opened.begin(), opened.end(), file.path + "#" + std::to_string(file.index)) != opened.end();
    }

    // The first face that has the character: those open, then the stand-ins
    // that fontconfig says cover it. Null when none has it.
    const face_slot* face_for(char32_t ch, FT_UInt& index) {
        for (const face_slot& slot : faces) {
            if ((index = FT_Get_Char_Index(slot.face, ch)) != 0) return &slot;
        }
        std::vector<font_file> candidates;
        {
            std::lock_guard lock(fontconfig_lock());
            resolution& entry = resolve_locked(face_name, bold, italic);
            if (!entry.fallbacks_listed) list_fallbacks_locked(face_name, bold, italic, entry);
            for (const font_file& file : entry.fallbacks) {
                if (file.charset != nullptr && FcCharSetHasChar(file.charset, ch) && !was_opened(file)) {
                    candidates.push_back(file);
                }
            }
        }
        for (const font_file& file : candidates) {
            if (!open_face(file)) continue;
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
    font_file main;
    {
        std::lock_guard lock(fontconfig_lock());
        const resolution& entry = resolve_locked(face, bold, italic);
        if (!entry.found) {
            platform::debug_output("[TamsaUpdate]: no font file for \"" + platform::wide_to_utf8(face) + "\"\n");
            return nullptr;
        }
        main = entry.main;
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
    // A character no face has is drawn as the main face's missing-glyph box.
    if (slot == nullptr) slot = &impl_->faces.front();
    return cache_.emplace(ch, render_glyph(slot->face, index, slot->embolden, slot->oblique)).first->second;
}

}  // namespace skinui

// fontconfig loses a few bytes while it parses its configuration files
// (inside FcInit, unreachable from any handle we hold). Leak checking in
// sanitizer builds is told so here, where fontconfig is brought in; other
// builds never call this hook.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
