// Tests of the conversions between wide text, UTF-8 and GBK.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

std::string codes(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += "U+" + std::to_string(static_cast<unsigned long>(static_cast<char32_t>(c))) + " ";
    return out;
}

struct wide_case {
    const char* what;
    std::wstring wide;
    std::string utf8;
};

TEST(text_conversion, wide_to_utf8_table) {
    const std::vector<wide_case> cases = {
        {"empty", L"", ""},
        {"ascii", L"update.ini", "update.ini"},
        {"cjk", L"感叹号.png", "\xE6\x84\x9F\xE5\x8F\xB9\xE5\x8F\xB7.png"},
        {"emoji", L"a\U0001F600b",
         "a\xF0\x9F\x98\x80"
         "b"},
        {"boundaries", std::wstring{0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF},
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"stops at the first zero", std::wstring(L"ab\0cd", 5), "ab"},
        {"lone high surrogate", std::wstring{L'a', 0xD800, L'b'},
         "a\xEF\xBF\xBD"
         "b"},
        {"lone low surrogate", std::wstring{0xDFFF}, "\xEF\xBF\xBD"},
        {"above U+10FFFF", std::wstring{0x110000}, "\xEF\xBF\xBD"},
        {"negative unit", std::wstring{static_cast<wchar_t>(-1)}, "\xEF\xBF\xBD"},
    };
    for (const wide_case& c : cases) {
        const std::string got = platform::wide_to_utf8(c.wide);
        EXPECT_EQ(got, c.utf8) << c.what << ": got " << hex(got) << ", expected " << hex(c.utf8);
        EXPECT_EQ(platform::wide_to_narrow(c.wide), c.utf8) << c.what << " (narrow is UTF-8)";
    }
}

TEST(text_conversion, utf8_to_wide_table) {
    const std::wstring bad(1, static_cast<wchar_t>(0xFFFD));
    const std::vector<wide_case> cases = {
        {"empty", L"", ""},
        {"ascii", L"TamsaUpdate.exe_", "TamsaUpdate.exe_"},
        {"cjk", L"感叹号.png", "\xE6\x84\x9F\xE5\x8F\xB9\xE5\x8F\xB7.png"},
        {"emoji", L"\U0001F600", "\xF0\x9F\x98\x80"},
        {"stops at the first zero", L"ab", std::string("ab\0cd", 5)},
        {"lone continuation byte", L"a" + bad + L"b",
         "a\x80"
         "b"},
        {"byte that never starts a sequence", bad + bad, "\xFF\xFE"},
        {"overlong slash", bad + bad, "\xC0\xAF"},
        {"overlong three-byte form", bad + bad + bad, "\xE0\x80\xAF"},
        {"encoded surrogate", bad + bad + bad, "\xED\xA0\x80"},
        {"above U+10FFFF", bad + bad + bad + bad, "\xF4\x90\x80\x80"},
        {"sequence cut at the end", L"x" + bad, "x\xE6\x84"},
        {"sequence cut by ascii", bad + L"A",
         "\xE6\x84"
         "A"},
        {"four-byte sequence cut by ascii", bad + L"x",
         "\xF0\x9F\x98"
         "x"},
        {"cut sequence then valid one", bad + L"感", "\xE6\xE6\x84\x9F"},
    };
    for (const wide_case& c : cases) {
        const std::wstring got = platform::utf8_to_wide(c.utf8);
        EXPECT_EQ(got, c.wide) << c.what << ": got " << codes(got) << ", expected " << codes(c.wide);
        EXPECT_EQ(platform::narrow_to_wide(c.utf8), c.wide) << c.what << " (narrow is UTF-8)";
    }
}

TEST(text_conversion, every_scalar_value_survives_a_round_trip) {
    std::wstring all;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c < 0xD800 || c > 0xDFFF) all.push_back(static_cast<wchar_t>(c));
    }
    const std::wstring back = platform::utf8_to_wide(platform::wide_to_utf8(all));
    ASSERT_EQ(back.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(back[i], all[i]) << "at index " << i;
    }
}

struct gbk_case {
    std::wstring wide;
    std::string gbk;
};

TEST(text_conversion, gbk_round_trip_of_skin_names) {
    const std::vector<gbk_case> cases = {
        {L"感叹号.png", "\xB8\xD0\xCC\xBE\xBA\xC5.png"},
        {L"关闭按钮.png", "\xB9\xD8\xB1\xD5\xB0\xB4\xC5\xA5.png"},
        {L"进度条_背景.png", "\xBD\xF8\xB6\xC8\xCC\xF5_\xB1\xB3\xBE\xB0.png"},
        {L"确定", "\xC8\xB7\xB6\xA8"},
        {L"update.xml", "update.xml"},
        {L"", ""},
    };
    for (const gbk_case& c : cases) {
        const std::string gbk = platform::wide_to_gbk(c.wide);
        EXPECT_EQ(gbk, c.gbk) << "to GBK: got " << hex(gbk) << ", expected " << hex(c.gbk);
        const std::wstring wide = platform::gbk_to_wide(c.gbk);
        EXPECT_EQ(wide, c.wide) << "from GBK: got " << codes(wide) << ", expected " << codes(c.wide);
    }
}

TEST(text_conversion, gbk_handles_what_it_cannot_represent) {
    const std::wstring bad(1, static_cast<wchar_t>(0xFFFD));
    // Characters outside the code page become '?', like the Windows default character.
    EXPECT_EQ(platform::wide_to_gbk(L"a\U0001F600b"), "a?b");
    EXPECT_EQ(platform::wide_to_gbk(std::wstring{L'a', 0xD800, L'b'}), "a?b");
    EXPECT_EQ(platform::wide_to_gbk(std::wstring(L"确\0定", 3)), "\xC8\xB7");
    // Invalid or cut double-byte sequences become U+FFFD; the rest is kept.
    EXPECT_EQ(codes(platform::gbk_to_wide("a\x81 b")), codes(L"a" + bad + L" b"));
    EXPECT_EQ(codes(platform::gbk_to_wide("ab\xB8")), codes(L"ab" + bad));
    EXPECT_EQ(platform::gbk_to_wide(std::string("\xC8\xB7\0\xB6\xA8", 5)), L"确");
}

}  // namespace
