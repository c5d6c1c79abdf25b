// Image attribute strings and the draw info slots that hold them.
#include "toolkit/image_attribute.h"

#include <algorithm>

#include "toolkit/attribute_values.h"

namespace skinui {
namespace {

bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// Reads an optionally signed decimal at pos; 0 when there is none. Values
// are kept within the layout's own coordinate bound, as every other number
// a skin gives.
int read_int(std::wstring_view text, std::size_t& pos) {
    bool negative = false;
    if (pos < text.size() && (text[pos] == L'-' || text[pos] == L'+')) negative = text[pos++] == L'-';
    long long value = 0;
    while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9') {
        value = std::min<long long>(value * 10 + (text[pos++] - L'0'), MAX_COORDINATE + 1LL);
    }
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, -MAX_COORDINATE, MAX_COORDINATE));
}

void apply_pair(std::wstring_view name, std::wstring_view value, draw_info& info) {
    if (name == L"file") {
        info.image_name = value;
    } else if (name == L"source") {
        info.source = parse_rect_value(value);
    } else if (name == L"dest") {
        info.dest = parse_rect_value(value);
    } else if (name == L"corner" || name == L"scale9") {
        info.corner = parse_rect_value(value);
    } else if (name == L"fade") {
        std::size_t pos = 0;
        info.fade = static_cast<std::uint8_t>(std::clamp(read_int(value, pos), 0, 255));
    } else if (name == L"hole") {
        info.hole = value == L"true";
    } else if (name == L"xtiled") {
        info.xtiled = value == L"true";
    } else if (name == L"ytiled") {
        info.ytiled = value == L"true";
    }
    // res, restype, color, mask and hsl are known but have no use here.
}

}  // namespace

rect parse_rect_value(std::wstring_view text) {
    int values[4] = {0, 0, 0, 0};
    std::size_t pos = 0;
    for (int i = 0; i < 4 && pos < text.size(); ++i) {
        values[i] = read_int(text, pos);
        ++pos;  // the separator, whatever it is
    }
    return {values[0], values[1], values[2], values[3]};
}

void parse_image_attribute(std::wstring_view text, draw_info& info) {
    if (text.find(L'=') == std::wstring_view::npos) {
        info.image_name = text;
        return;
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && is_blank(text[pos])) ++pos;
        std::size_t name_start = pos;
        while (pos < text.size() && !is_blank(text[pos]) && text[pos] != L'=') ++pos;
        std::wstring_view name = text.substr(name_start, pos - name_start);
        while (pos < text.size() && is_blank(text[pos])) ++pos;
        if (name.empty() || pos >= text.size() || text[pos] != L'=') return;
        ++pos;
        while (pos < text.size() && is_blank(text[pos])) ++pos;
        if (pos >= text.size() || text[pos] != L'\'') return;
        std::size_t value_end = text.find(L'\'', pos + 1);
        if (value_end == std::wstring_view::npos) return;
        apply_pair(name, text.substr(pos + 1, value_end - pos - 1), info);
        pos = value_end + 1;
    }
}

void draw_info::set(std::wstring_view new_attribute) {
    clear();
    attribute = new_attribute;
}

void draw_info::clear() {
    *this = draw_info{};
}

}  // namespace skinui
