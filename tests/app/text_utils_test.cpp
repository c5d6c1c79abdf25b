// Tests of the conversions, the percent-encodings and the debug log.
#include "core/text_utils.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"

namespace {

struct encode_case {
    std::string input;
    std::string query_value;  // url_encode
    std::string path;         // url_encode_path
};

TEST(percent_encoding, encodes_every_byte_but_the_kept_ones) {
    const encode_case cases[] = {
        {"", "", ""},
        {"a b/c", "a%20b%2Fc", "a%20b/c"},
        {"AZaz09._-*~", "AZaz09._-*~", "AZaz09._-*~"},
        {"C:\\dir/x", "C%3A%5Cdir%2Fx", "C:\\dir/x"},
        {"?a=1&b=%41", "%3Fa%3D1%26b%3D%2541", "%3Fa%3D1%26b%3D%2541"},
        {"+!#$'(),;@[]\"<>", "%2B%21%23%24%27%28%29%2C%3B%40%5B%5D%22%3C%3E",
         "%2B%21%23%24%27%28%29%2C%3B%40%5B%5D%22%3C%3E"},
        {"\xE4\xB8\x8A", "%E4%B8%8A", "%E4%B8%8A"},  // one CJK character in UTF-8
        {std::string("a\0b", 3), "a%00b", "a%00b"},
        {"\x7F\x80\xFF\x01", "%7F%80%FF%01", "%7F%80%FF%01"},
    };
    for (const encode_case& c : cases) {
        EXPECT_EQ(url_encode(c.input), c.query_value) << "url_encode of \"" << c.input << "\"";
        EXPECT_EQ(url_encode_path(c.input), c.path) << "url_encode_path of \"" << c.input << "\"";
    }
}

struct conversion_case {
    std::wstring wide;
    std::string narrow;
};

TEST(text_conversion, round_trips_between_wide_utf8_and_ansi) {
    const conversion_case cases[] = {
        {L"", ""},
        {L"plain ascii", "plain ascii"},
        {L"\u4E0A\u53F7\u5668", "\xE4\xB8\x8A\xE5\x8F\xB7\xE5\x99\xA8"},
        {L"caf\u00E9 \U0001F600", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
    };
    for (const conversion_case& c : cases) {
        EXPECT_EQ(wide_to_utf8(c.wide), c.narrow);
        EXPECT_EQ(wide_to_ansi(c.wide), c.narrow);
        EXPECT_EQ(utf8_to_wide(c.narrow), c.wide);
        EXPECT_EQ(ansi_to_wide(c.narrow), c.wide);
        EXPECT_EQ(ansi_to_utf8(c.narrow), c.narrow);
        EXPECT_EQ(utf8_to_ansi(c.narrow), c.narrow);
    }
}

TEST(text_conversion, stops_at_an_embedded_zero) {
    EXPECT_EQ(utf8_to_wide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(ansi_to_wide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(wide_to_utf8(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(ansi_to_utf8(std::string("\0x", 2)), "");
}

TEST(text_conversion, invalid_utf8_becomes_replacement_characters) {
    std::wstring got = utf8_to_wide(
        "a\xFF"
        "b");
    EXPECT_EQ(got, L"a\uFFFDb");
}

TEST(module_dir, is_the_executable_directory_with_a_trailing_separator) {
    std::string exe = platform::executable_path();
    ASSERT_FALSE(exe.empty());
    std::string expected = exe.substr(0, exe.find_last_of("/\\") + 1);
    EXPECT_EQ(module_dir(), expected);
    EXPECT_EQ(module_dir(), expected) << "the cached value must be the same";
    EXPECT_EQ(module_dir_w(), ansi_to_wide(expected));
}

std::string capture_narrow(const char* format, const std::string& argument) {
    testing::internal::CaptureStderr();
    debug_log(format, argument.c_str());
    return testing::internal::GetCapturedStderr();
}

std::string capture_wide(const wchar_t* format, const std::wstring& argument) {
    testing::internal::CaptureStderr();
    debug_log_w(format, argument.c_str());
    return testing::internal::GetCapturedStderr();
}

TEST(debug_log, cuts_an_overlong_line_at_4095_characters) {
    const std::string long_text(5000, 'x');
    const std::string narrow = capture_narrow("%s", long_text);
    // One line: the 4095 characters and the line end of the debugger output.
    EXPECT_EQ(narrow, std::string(4095, 'x') + "\n") << "got " << narrow.size() << " bytes";
    const std::string wide = capture_wide(L"%s", std::wstring(5000, L'y'));
    EXPECT_EQ(wide, std::string(4095, 'y') + "\n") << "got " << wide.size() << " bytes";
    // Exactly 4095 characters fit without a cut.
    EXPECT_EQ(capture_narrow("%s", std::string(4095, 'z')), std::string(4095, 'z') + "\n");
    EXPECT_EQ(capture_wide(L"%s", std::wstring(4095, L'z')), std::string(4095, 'z') + "\n");
}

TEST(debug_log, a_null_format_writes_nothing) {
    testing::internal::CaptureStderr();
    debug_log(nullptr);
    debug_log_w(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

struct wide_format_case {
    const wchar_t* format;
    std::string expected;
};

// In the wide form %s and %c take wide arguments, as they do on Windows; the
// rewrite must touch conversions only, never literal text.
TEST(debug_log, wide_form_takes_wide_texts) {
    testing::internal::CaptureStderr();
    debug_log_w(L"[Updater] channel => [%s],version => [%s],hwnd => [%d]\n", L"\u4E0A\u53F7", L"4.1.2", -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Updater] channel => [\xE4\xB8\x8A\xE5\x8F\xB7],version => [4.1.2],hwnd => [-1]\n");

    const wide_format_case cases[] = {
        {L"100%% sure: %s\n", "100% sure: text\n"},
        {L"%%s stays literal, %s\n", "%s stays literal, text\n"},
        {L"[%-6s]\n", "[text  ]\n"},
        {L"[%.2s]\n", "[te]\n"},
        {L"[%ls]\n", "[text]\n"},
        // "%5%" is a conversion that prints "%"; the "s" after it is literal.
        {L"%5%s literal percent then %s\n", "%s literal percent then text\n"},
    };
    for (const wide_format_case& c : cases) {
        std::string got = capture_wide(c.format, L"text");
        EXPECT_EQ(got, c.expected) << "format " << wide_to_utf8(c.format);
    }

    testing::internal::CaptureStderr();
    debug_log_w(L"%c%c|%hs|%S|%lc\n", L'\u4E0A', L'b', "narrow", "also narrow", L'z');
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\xE4\xB8\x8A"
              "b|narrow|also narrow|z\n");
}

TEST(debug_log, narrow_form_keeps_the_callers_text) {
    testing::internal::CaptureStderr();
    debug_log("[TamsaUpdate]: InstallUpdate =>%s GetLastError =>%d \n", "/tmp/p.bin", 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[TamsaUpdate]: InstallUpdate =>/tmp/p.bin GetLastError =>2 \n");
}

}  // namespace
