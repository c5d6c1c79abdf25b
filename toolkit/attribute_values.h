// Reading attribute values of layouts: decimals, colours, lists, Booleans.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/types.h"

namespace skinui {

// Coordinates and sizes read from a layout are kept within this bound so
// that layout arithmetic cannot overflow whatever a skin says.
inline constexpr int MAX_COORDINATE = 1000000;

// A decimal: leading blanks, an optional sign, digits; 0 without digits.
// Stops at the first character that is no digit. Clamped to +-MAX_COORDINATE.
int parse_int(std::wstring_view value);
// The same, also returning how many characters were used.
int parse_int(std::wstring_view value, std::size_t& used);

// "#AARRGGBB" with optional "#" (alpha first); hex digits up to the first
// other character; more than 32 bits give 0xFFFFFFFF.
std::uint32_t parse_color(std::wstring_view value);

// Decimals each followed by exactly one separator of any kind; values that
// the text does not have stay 0.
void parse_int_list(std::wstring_view value, std::span<int> out);
platform::rect parse_rect(std::wstring_view value);
platform::size parse_size(std::wstring_view value);

// Fractions (for float anchors), separated like parse_int_list; values that
// are not finite become 0 and the rest are kept within -100..100.
void parse_fraction_list(std::wstring_view value, std::span<double> out);

// True only for the exact text "true".
inline bool parse_bool(std::wstring_view value) {
    return value == L"true";
}

// ASCII-only case-insensitive comparison (element and window attribute names).
bool equals_ignore_case(std::wstring_view a, std::wstring_view b);

}  // namespace skinui
