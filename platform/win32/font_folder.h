// The font lookup of Windows against a given font folder, as the system's
// folder is searched (the tests give a folder of their own).
#pragma once

#include <string>
#include <vector>

#include "platform/font_lookup.h"

namespace platform {

// The font files of the folder (.ttf, .ttc, .otf, .otc), in name order.
std::vector<font_file> font_files_in_folder(const std::wstring& folder);
// find_font_file and fallback_font_files against the folder, without the
// process's cache.
bool find_font_file_in(const std::wstring& folder, const std::wstring& face, bool bold, font_file& out);
std::vector<font_file> fallback_font_files_in(const std::wstring& folder, bool bold);

}  // namespace platform
