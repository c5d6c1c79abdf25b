// Reading attribute values of layouts: decimals, colours, lists, Booleans.
#include "toolkit/attribute_values.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/text_rules.h"

namespace skinui {
namespace {

bool is_blank(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

int hex_digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

}  // namespace

int parse_int(std::wstring_view value, std::size_t& used) {
    std::size_t i = 0;
    while (i < value.size() && is_blank(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == L'-' || value[i] == L'+')) negative = value[i++] == L'-';
    const std::size_t digits_start = i;
    long long magnitude = 0;
    while (i < value.size() && value[i] >= L'0' && value[i] <= L'9') {
        if (magnitude <= MAX_COORDINATE) magnitude = magnitude * 10 + (value[i] - L'0');
        ++i;
    }
    if (i == digits_start) {
        used = 0;
        return 0;
    }
    used = i;
    if (magnitude > MAX_COORDINATE) magnitude = MAX_COORDINATE;
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int parse_int(std::wstring_view value) {
    std::size_t used = 0;
    return parse_int(value, used);
}

std::uint32_t parse_color(std::wstring_view value) {
    if (!value.empty() && value.front() == L'#') value.remove_prefix(1);
    std::size_t i = 0;
    while (i < value.size() && is_blank(value[i])) ++i;
    std::uint64_t color = 0;
    for (; i < value.size() && hex_digit(value[i]) >= 0; ++i) {
        color = color * 16 + static_cast<std::uint64_t>(hex_digit(value[i]));
        if (color > 0xFFFFFFFFull) color = 0x1FFFFFFFFull;  // saturate, keep it from wrapping
    }
    return color > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(color);
}

void parse_int_list(std::wstring_view value, std::span<int> out) {
    for (int& item : out) item = 0;
    std::size_t pos = 0;
    for (int& item : out) {
        if (pos >= value.size()) return;
        std::size_t used = 0;
        item = parse_int(value.substr(pos), used);
        pos += used + 1;  // exactly one separator, whatever it is
    }
}

platform::rect parse_rect(std::wstring_view value) {
    int v[4];
    parse_int_list(value, v);
    return {v[0], v[1], v[2], v[3]};
}

platform::size parse_size(std::wstring_view value) {
    int v[2];
    parse_int_list(value, v);
    return {v[0], v[1]};
}

void parse_fraction_list(std::wstring_view value, std::span<double> out) {
    for (double& item : out) item = 0;
    const std::wstring text(value);  // wcstod needs a terminated text
    const wchar_t* cursor = text.c_str();
    const wchar_t* const end = cursor + text.size();
    for (double& item : out) {
        if (cursor >= end) return;
        wchar_t* next = nullptr;
        const double parsed = std::wcstod(cursor, &next);
        item = std::isfinite(parsed) ? std::fmax(-100.0, std::fmin(100.0, parsed)) : 0.0;
        cursor = next + 1;
    }
}

bool equals_ignore_case(std::wstring_view a, std::wstring_view b) {
    return platform::equal_ignoring_ascii_case(a, b);
}

}  // namespace skinui
