// FreeType glyphs of one font (face file named by the platform, pixel size,
// synthetic bold and oblique where the face lacks them), rendered once and
// kept; characters the face lacks come from the next face that has them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace skinui {

// One rendered glyph: an 8-bit coverage bitmap placed relative to the pen
// position on the baseline.
struct glyph {
    int left = 0;  // bitmap left from the pen position
    int top = 0;   // bitmap top above the baseline
    int width = 0;
    int rows = 0;
    int advance = 0;                     // pen movement in pixels
    std::vector<std::uint8_t> coverage;  // rows x width
};

class glyph_source {
public:
    // Null when no face at all can be opened for the font.
    static std::shared_ptr<glyph_source> open(const std::wstring& face, int size, bool bold, bool italic);
    ~glyph_source();
    glyph_source(const glyph_source&) = delete;
    glyph_source& operator=(const glyph_source&) = delete;

    const glyph& get(char32_t ch);
    int ascent() const { return ascent_; }
    int descent() const { return descent_; }
    int average_char_width() const { return average_char_width_; }
    int underline_offset() const { return underline_offset_; }  // pixels below the baseline
    int underline_thickness() const { return underline_thickness_; }
    std::string family() const;  // family name of the main face

private:
    struct impl;
    explicit glyph_source(std::unique_ptr<impl> state);

    std::unique_ptr<impl> impl_;
    std::unordered_map<char32_t, glyph> cache_;
    bool missing_logged_ = false;  // a character no installed font has was logged
    int ascent_ = 0;
    int descent_ = 0;
    int average_char_width_ = 0;
    int underline_offset_ = 1;
    int underline_thickness_ = 1;
};

}  // namespace skinui
