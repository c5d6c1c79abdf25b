// Tests of the Win32 text conversions: the ANSI code page (936 in the
// Windows leg, as on the product's Chinese systems), UTF-8 and GBK.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/text.h"

namespace {

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

struct narrow_case {
    const char* what;
    std::wstring wide;
    std::string narrow;
};

TEST(win32_text, ansi_code_page_936_table) {
    if (::GetACP() != 936) GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 936";
    const std::vector<narrow_case> cases = {
        {"empty", L"", ""},
        {"ascii", L"update.ini", "update.ini"},
        {"product name", L"\u4E0A\u53F7\u5668", "\xC9\xCF\xBA\xC5\xC6\xF7"},
        {"skin member", L"\u5173\u95ED.png", "\xB9\xD8\xB1\xD5.png"},
        {"latin letter in GBK", L"caf\u00E9", "caf\xA8\xA6"},
        {"stops at the first zero", std::wstring(L"a\0b", 3), "a"},
    };
    for (const narrow_case& c : cases) {
        EXPECT_EQ(platform::wide_to_narrow(c.wide), c.narrow)
            << c.what << ": got " << hex(platform::wide_to_narrow(c.wide));
        EXPECT_EQ(platform::narrow_to_wide(c.narrow), c.wide.substr(0, c.wide.find(L'\0'))) << c.what;
    }
    EXPECT_EQ(platform::wide_to_narrow(L"a\U0001F600b"), "a??b") << "each unit of a character the code page lacks";
}

TEST(win32_text, utf8_table) {
    const std::vector<narrow_case> cases = {
        {"empty", L"", ""},
        {"cjk", L"\u4E0A\u53F7\u5668", "\xE4\xB8\x8A\xE5\x8F\xB7\xE5\x99\xA8"},
        {"surrogate pair", L"a\U0001F600b",
         "a\xF0\x9F\x98\x80"
         "b"},
        {"boundaries", L"\u007F\u0080\u07FF\u0800\uFFFD", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBD"},
    };
    for (const narrow_case& c : cases) {
        EXPECT_EQ(platform::wide_to_utf8(c.wide), c.narrow)
            << c.what << ": got " << hex(platform::wide_to_utf8(c.wide));
        EXPECT_EQ(platform::utf8_to_wide(c.narrow), c.wide) << c.what;
    }
    EXPECT_EQ(platform::utf8_to_wide("a\xFF"
                                     "b"),
              L"a\uFFFDb")
        << "an invalid byte";
    EXPECT_EQ(platform::utf8_to_wide(std::string("ab\0cd", 5)), L"ab");
}

TEST(win32_text, gbk_round_trip_of_skin_names) {
    const std::vector<narrow_case> cases = {
        {"sign", L"\u611F\u53F9\u53F7.png", "\xB8\xD0\xCC\xBE\xBA\xC5.png"},
        {"close", L"\u5173\u95ED.png", "\xB9\xD8\xB1\xD5.png"},
        {"cancel", L"\u53D6\u6D88.png", "\xC8\xA1\xCF\xFB.png"},
        {"ok", L"\u786E\u8BA4.png", "\xC8\xB7\xC8\xCF.png"},
        {"minimise", L"\u6700\u5C0F\u5316.png", "\xD7\xEE\xD0\xA1\xBB\xAF.png"},
    };
    for (const narrow_case& c : cases) {
        EXPECT_EQ(platform::wide_to_gbk(c.wide), c.narrow) << c.what << ": got " << hex(platform::wide_to_gbk(c.wide));
        EXPECT_EQ(platform::gbk_to_wide(c.narrow), c.wide) << c.what;
    }
}

}  // namespace
