// Text, path and log utilities shared by the whole program.
#pragma once

#include <string>
#include <string_view>

#include "platform/compiler.h"

// printf-formatted diagnostic line to the debugger output, cut at 4095
// characters. The caller's format carries its own prefix and line feed.
void debug_log(const char* format, ...) PLATFORM_PRINTF_FORMAT(1, 2);
void debug_log_w(const wchar_t* format, ...);

// Directory of the running executable, ending in a path separator. Empty
// when it cannot be known (a path of 260 bytes or more); callers then leave
// every file alone.
std::string module_dir();
std::wstring module_dir_w();

std::string wide_to_ansi(std::wstring_view text);
std::wstring ansi_to_wide(std::string_view text);
std::string wide_to_utf8(std::wstring_view text);
std::wstring utf8_to_wide(std::string_view text);
std::string ansi_to_utf8(std::string_view text);
std::string utf8_to_ansi(std::string_view text);

// Percent-encoding: url_encode for a query value, url_encode_path keeps the
// separators "/", ":" and "\".
std::string url_encode(std::string_view text);
std::string url_encode_path(std::string_view text);
