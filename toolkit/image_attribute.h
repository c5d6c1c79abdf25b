// Parsing of image attribute strings ("bg.png" or "file='bg.png' source='0,0,4,4'")
// into the fields of a draw info.
#pragma once

#include <string_view>

#include "toolkit/render_engine.h"

namespace skinui {

// Sets the fields that the string names (file, source, dest, corner or
// scale9, fade, hole, xtiled, ytiled); others keep their values. A string
// without "=" is the file name. Parsing stops at the first element that does
// not fit the syntax; what came before it still applies.
void parse_image_attribute(std::wstring_view text, draw_info& info);

// A list of up to four decimal integers, each followed by one separator
// character of any kind ("0,0,4,4"); missing values are 0.
rect parse_rect_value(std::wstring_view text);

}  // namespace skinui
