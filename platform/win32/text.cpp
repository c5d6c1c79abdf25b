// Text conversions on Windows: WideCharToMultiByte and MultiByteToWideChar
// with the ANSI code page, UTF-8 and code page 936 (GBK).
#include "platform/text.h"

#include <windows.h>

namespace platform {
namespace {

constexpr UINT CP_GBK = 936;

std::wstring_view up_to_zero(std::wstring_view text) {
    return text.substr(0, text.find(L'\0'));
}

std::string_view up_to_zero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Characters the code page lacks become its default character ('?' for the
// ones used here); flags 0 as the program's own conversions use.
std::string from_wide(UINT code_page, std::wstring_view text) {
    text = up_to_zero(text);
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(code_page, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    const int written = ::WideCharToMultiByte(code_page, 0, text.data(), length, out.data(), size, nullptr, nullptr);
    if (written <= 0) return {};
    out.resize(static_cast<std::size_t>(written));
    return out;
}

// Invalid bytes become U+FFFD, as MultiByteToWideChar does with flags 0.
std::wstring to_wide(UINT code_page, std::string_view text) {
    text = up_to_zero(text);
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size = ::MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
    if (size <= 0) return {};
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    const int written = ::MultiByteToWideChar(code_page, 0, text.data(), length, out.data(), size);
    if (written <= 0) return {};
    out.resize(static_cast<std::size_t>(written));
    return out;
}

}  // namespace

std::string wide_to_utf8(std::wstring_view text) {
    return from_wide(CP_UTF8, text);
}

std::wstring utf8_to_wide(std::string_view text) {
    return to_wide(CP_UTF8, text);
}

std::string wide_to_narrow(std::wstring_view text) {
    return from_wide(CP_ACP, text);
}

std::wstring narrow_to_wide(std::string_view text) {
    return to_wide(CP_ACP, text);
}

std::string wide_to_gbk(std::wstring_view text) {
    return from_wide(CP_GBK, text);
}

std::wstring gbk_to_wide(std::string_view text) {
    return to_wide(CP_GBK, text);
}

}  // namespace platform
