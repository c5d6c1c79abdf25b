// A window's fonts keyed by id: face, pixel size, style and text metrics,
// with the FreeType glyphs that draw them.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace skinui {

class glyph_source;

// One font of a window. The metrics are in pixels, as GDI's TEXTMETRIC gives
// them: height = ascent + descent.
struct font_info {
    std::wstring face;
    int size = 12;  // character height in pixels
    bool bold = false;
    bool underline = false;
    bool italic = false;
    int ascent = 0;
    int descent = 0;
    int height = 0;
    int average_char_width = 0;
    std::shared_ptr<glyph_source> glyphs;  // null when no face could be opened
};

// Face and size of the system's default GUI font.
inline constexpr wchar_t DEFAULT_FONT_FACE[] = L"sans-serif";
inline constexpr int DEFAULT_FONT_SIZE = 12;

class font_table {
public:
    font_table();
    ~font_table();
    font_table(const font_table&) = delete;
    font_table& operator=(const font_table&) = delete;

    // Adds (or replaces) the font under id; never null. A size below 1 is
    // taken as the default size.
    font_info* add(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic);
    // Makes the font with that id the default; unknown ids are ignored.
    void set_default(int id);
    // The font with that id; -1 or an unknown id gives the default font,
    // which exists even when no font was added.
    font_info* get(int index);
    font_info* default_font() { return default_font_; }
    // The underlined twin of get(index), made and kept on first use.
    font_info* underlined(int index);

private:
    std::map<int, std::unique_ptr<font_info>> fonts_;
    std::map<const font_info*, std::unique_ptr<font_info>> underlined_;
    std::unique_ptr<font_info> system_default_;
    font_info* default_font_ = nullptr;
};

// Opens the face and fills the metrics of a font record from its fields.
void realize_font(font_info& font);

}  // namespace skinui
