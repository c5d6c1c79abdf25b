// Which font files hold a face, and which can stand in for a character the
// face lacks (fontconfig on Linux). The glyphs themselves are the toolkit's.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct font_file {
    std::string path;
    int index = 0;  // the face's index inside a collection file
};

// The file of the installed face that best matches the name (a sans-serif
// face for an empty name), preferring faces that cover Chinese. False when
// no face at all is found.
bool find_font_file(const std::wstring& face, bool bold, bool italic, font_file& out);

// Files that can stand in for the face and hold the character, in order of
// preference; empty when none does.
std::vector<font_file> fallback_font_files(const std::wstring& face, bool bold, bool italic, char32_t ch);

}  // namespace platform
