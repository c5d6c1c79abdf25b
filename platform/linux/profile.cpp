// The profile (INI) file reader with the Windows profile rules.
#include "platform/profile.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "platform/text.h"
#include "platform/text_rules.h"

namespace platform {
namespace {

// Enough for any settings file; the rest of a larger file is ignored.
constexpr std::size_t MAX_PROFILE_BYTES = 1 << 20;

std::string read_head(const std::wstring& path) {
    std::string bytes;
    if (path.empty()) return bytes;
    std::FILE* file = std::fopen(wide_to_narrow(path).c_str(), "rb");
    if (file == nullptr) return bytes;
    bytes.resize(MAX_PROFILE_BYTES);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    bytes.resize(got);  // a read error leaves what was read before it
    std::fclose(file);  // result ignored: the file was only read
    return bytes;
}

// UTF-16LE units (after its byte-order mark) to wide text; a lone surrogate
// becomes U+FFFD.
std::wstring decode_utf16le(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size() / 2);
    auto unit_at = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char32_t unit = unit_at(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const char32_t low = unit_at(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
                i += 2;
                continue;
            }
        }
        out.push_back(static_cast<wchar_t>(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit));
    }
    return out;
}

// The file's text: UTF-8 (a byte-order mark skipped) or UTF-16LE with its
// byte-order mark. The text ends at a zero character, like a C string.
std::wstring decode_profile(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        std::wstring text = decode_utf16le(bytes.substr(2));
        return text.substr(0, text.find(L'\0'));
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return utf8_to_wide(bytes);
}

bool is_blank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\v' || c == L'\f';
}

std::wstring_view trim(std::wstring_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

std::wstring_view unquote(std::wstring_view value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// "[name]" gives name; a line without the closing bracket names the rest.
std::wstring_view section_name(std::wstring_view line) {
    line.remove_prefix(1);
    return trim(line.substr(0, line.find(L']')));
}

// Walks the lines in file order; the first key of that name in a section of
// that name wins. Lines without '=' carry no value and never match.
std::optional<std::wstring> find_value(std::wstring_view text, std::wstring_view section, std::wstring_view key) {
    bool in_section = false;
    while (!text.empty()) {
        const std::size_t end = text.find(L'\n');
        const std::wstring_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::wstring_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == L';') continue;
        if (line.front() == L'[') {
            in_section = equal_ignoring_ascii_case(section_name(line), std::wstring_view(section));
            continue;
        }
        const std::size_t equals = line.find(L'=');
        if (!in_section || equals == std::wstring_view::npos) continue;
        if (equal_ignoring_ascii_case(trim(line.substr(0, equals)), std::wstring_view(key))) {
            return std::wstring(unquote(trim(line.substr(equals + 1))));
        }
    }
    return std::nullopt;
}

}  // namespace

std::wstring read_profile_string(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& default_value, const std::wstring& path, std::size_t buffer_size) {
    if (buffer_size == 0) return {};
    const std::wstring text = decode_profile(read_head(path));
    std::wstring value =
        find_value(text, trim(section), trim(key)).value_or(default_value.substr(0, default_value.find(L'\0')));
    if (value.size() > buffer_size - 1) value.resize(buffer_size - 1);
    return value;
}

}  // namespace platform
