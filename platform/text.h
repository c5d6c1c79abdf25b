// Text conversions between wide text, UTF-8 (the narrow code page on Linux)
// and GBK (code page 936, used by the skin archive's member names).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Both stop at the first zero character of the source. Invalid input becomes
// U+FFFD (from UTF-8) or '?' (to a code page that lacks the character).
std::string wide_to_utf8(std::wstring_view text);
std::wstring utf8_to_wide(std::string_view text);

// The system's narrow ("ANSI") code page. On Linux this is UTF-8.
std::string wide_to_narrow(std::wstring_view text);
std::wstring narrow_to_wide(std::string_view text);

// Code page 936 through iconv; an empty result when iconv cannot convert.
std::string wide_to_gbk(std::wstring_view text);
std::wstring gbk_to_wide(std::string_view text);

}  // namespace platform
