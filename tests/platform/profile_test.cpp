// Tests of the profile (INI) reader against a table of files.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

struct profile_case {
    const char* what;
    std::string file;  // bytes of update.ini
    std::wstring section;
    std::wstring key;
    std::size_t buffer_size;
    std::wstring expected;
};

std::string utf16le_with_bom(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST(profile, reads_values_with_the_windows_rules) {
    const std::vector<profile_case> cases = {
        {"plain value", "[UPDATE]\nis_test=1\n", L"UPDATE", L"is_test", 16, L"1"},
        {"names ignore case", "[update]\nIS_TEST=0\n", L"UPDATE", L"is_test", 16, L"0"},
        {"blanks trimmed", "  [ UPDATE ]  \n  is_test  =  -3  \n", L"UPDATE", L"is_test", 16, L"-3"},
        {"CR LF line ends", "[UPDATE]\r\nis_test=12abc\r\n", L"UPDATE", L"is_test", 16, L"12abc"},
        {"no final line end", "[UPDATE]\nis_test=7", L"UPDATE", L"is_test", 16, L"7"},
        {"empty value", "[UPDATE]\nis_test=\n", L"UPDATE", L"is_test", 16, L""},
        {"double quotes removed", "[UPDATE]\nis_test=\" 5 \"\n", L"UPDATE", L"is_test", 16, L" 5 "},
        {"single quotes removed", "[UPDATE]\nis_test='5'\n", L"UPDATE", L"is_test", 16, L"5"},
        {"unmatched quotes kept", "[UPDATE]\nis_test=\"5'\n", L"UPDATE", L"is_test", 16, L"\"5'"},
        {"lone quote kept", "[UPDATE]\nis_test=\"\n", L"UPDATE", L"is_test", 16, L"\""},
        {"first key wins", "[UPDATE]\nis_test=1\nis_test=2\n", L"UPDATE", L"is_test", 16, L"1"},
        {"first key wins over a repeated section", "[UPDATE]\na=1\n[UPDATE]\nis_test=4\nis_test=5\n", L"UPDATE",
         L"is_test", 16, L"4"},
        {"key of another section", "[OTHER]\nis_test=1\n[UPDATE]\nx=1\n", L"UPDATE", L"is_test", 16, L"2"},
        {"key before any section", "is_test=1\n[UPDATE]\n", L"UPDATE", L"is_test", 16, L"2"},
        {"comment line", "[UPDATE]\n;is_test=1\nis_test=3\n", L"UPDATE", L"is_test", 16, L"3"},
        {"line without equals has no value", "[UPDATE]\nis_test\n", L"UPDATE", L"is_test", 16, L"2"},
        {"value keeps equals signs", "[UPDATE]\nurl=a=b\n", L"UPDATE", L"url", 64, L"a=b"},
        {"value cut to buffer size - 1", "[UPDATE]\nis_test=12345678901234567890\n", L"UPDATE", L"is_test", 16,
         L"123456789012345"},
        {"default cut to buffer size - 1", "", L"UPDATE", L"is_test", 1, L""},
        {"buffer size 0", "[UPDATE]\nis_test=1\n", L"UPDATE", L"is_test", 0, L""},
        {"UTF-8 with BOM", "\xEF\xBB\xBF[UPDATE]\nis_test=9\n", L"UPDATE", L"is_test", 16, L"9"},
        {"UTF-8 value", "[UPDATE]\nname=\xE7\xA1\xAE\xE5\xAE\x9A\n", L"UPDATE", L"name", 16, L"确定"},
        {"UTF-16LE with BOM", utf16le_with_bom(u"[UPDATE]\r\nis_test=8\r\n"), L"UPDATE", L"is_test", 16, L"8"},
        {"empty file", "", L"UPDATE", L"is_test", 16, L"2"},
        {"binary garbage", std::string(1, '\0') + "\xFF[UPDATE]\nis_test=1\n\x80\x81", L"UPDATE", L"is_test", 16, L"2"},
        {"invalid UTF-8 elsewhere", "[UPDATE]\njunk=\xFF\xFE\nis_test=6\n", L"UPDATE", L"is_test", 16, L"6"},
        {"section without closing bracket", "[UPDATE\nis_test=1\n", L"UPDATE", L"is_test", 16, L"1"},
    };
    for (const profile_case& c : cases) {
        test_support::temp_dir dir;
        const std::string path = dir.file("update.ini");
        test_support::write_file(path, c.file);
        const std::wstring got =
            platform::read_profile_string(c.section, c.key, L"2", platform::utf8_to_wide(path), c.buffer_size);
        EXPECT_EQ(platform::wide_to_utf8(got), platform::wide_to_utf8(c.expected)) << c.what;
    }
}

TEST(profile, missing_file_gives_the_default) {
    test_support::temp_dir dir;
    EXPECT_EQ(
        platform::read_profile_string(L"UPDATE", L"is_test", L"2", platform::utf8_to_wide(dir.file("none.ini")), 16),
        L"2");
    EXPECT_EQ(platform::read_profile_string(L"UPDATE", L"is_test", L"2", L"", 16), L"2");
    EXPECT_EQ(
        platform::read_profile_string(L"UPDATE", L"is_test", L"2", platform::utf8_to_wide(dir.path().string()), 16),
        L"2")
        << "a directory is no profile file";
}

TEST(profile, huge_file_is_read_only_at_its_head) {
    test_support::temp_dir dir;
    const std::string path = dir.file("update.ini");
    // The key near the start is found; one after the first MiB is not.
    std::string text = "[UPDATE]\nfirst=1\n" + std::string(3 << 20, 'x') + "\nlate=1\n";
    test_support::write_file(path, text);
    const std::wstring wide_path = platform::utf8_to_wide(path);
    EXPECT_EQ(platform::read_profile_string(L"UPDATE", L"first", L"d", wide_path, 16), L"1");
    EXPECT_EQ(platform::read_profile_string(L"UPDATE", L"late", L"d", wide_path, 16), L"d");
}

}  // namespace
