// Renders the button captions into the artwork with FreeType, using the
// CJK face that fontconfig finds for "WenQuanYi Micro Hei".
#pragma once

#include <string>

#include "tools/skin_art/canvas.h"

namespace skin_art {

class caption_font {
public:
    caption_font();
    ~caption_font();
    caption_font(const caption_font&) = delete;
    caption_font& operator=(const caption_font&) = delete;

    // False (with a message in error()) when no suitable face was found.
    bool ok() const { return face_ != nullptr; }
    const std::string& error() const { return error_; }

    // Draws text (UTF-32) centred in the box, pixel_size high.
    bool draw_centred(canvas& target, const std::u32string& text, int pixel_size, const round_box& box,
                      const colour& c);

private:
    void* library_ = nullptr;  // FT_Library
    void* face_ = nullptr;     // FT_Face
    std::string error_;
};

}  // namespace skin_art
