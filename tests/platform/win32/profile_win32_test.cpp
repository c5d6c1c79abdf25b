// Tests of the profile reader on Windows (GetPrivateProfileStringW).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/text.h"
#include "win32_test_support.h"

namespace {

struct profile_case {
    const char* what;
    std::string file;
    std::wstring section;
    std::wstring key;
    std::size_t buffer_size;
    std::wstring expected;
};

TEST(win32_profile, reads_values_by_the_profile_rules) {
    const std::vector<profile_case> cases = {
        {"plain value", "[UPDATE]\r\nis_test=1\r\n", L"UPDATE", L"is_test", 64, L"1"},
        {"names ignore case", "[update]\nIS_TEST=7\n", L"UPDATE", L"is_test", 64, L"7"},
        {"blanks trimmed", "[UPDATE]\n  is_test  =  3  \n", L"UPDATE", L"is_test", 64, L"3"},
        {"quotes removed", "[UPDATE]\nhost=\"127.0.0.1:80\"\n", L"UPDATE", L"host", 64, L"127.0.0.1:80"},
        {"first key wins", "[UPDATE]\nis_test=1\nis_test=2\n", L"UPDATE", L"is_test", 64, L"1"},
        {"other section", "[OTHER]\nis_test=1\n[UPDATE]\nis_test=5\n", L"UPDATE", L"is_test", 64, L"5"},
        {"missing key", "[UPDATE]\nhost=x\n", L"UPDATE", L"is_test", 64, L"default"},
        {"missing section", "[OTHER]\nis_test=1\n", L"UPDATE", L"is_test", 64, L"default"},
        {"cut to the buffer", "[UPDATE]\nhost=abcdefgh\n", L"UPDATE", L"host", 4, L"abc"},
    };
    win32_test::temp_dir dir;
    const std::string path = dir.file("update.ini");
    for (const profile_case& c : cases) {
        win32_test::write_file(path, c.file);
        const std::wstring got =
            platform::read_profile_string(c.section, c.key, L"default", platform::narrow_to_wide(path), c.buffer_size);
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

TEST(win32_profile, missing_file_gives_the_default) {
    win32_test::temp_dir dir;
    const std::wstring path = platform::narrow_to_wide(dir.file("none.ini"));
    EXPECT_EQ(platform::read_profile_string(L"UPDATE", L"is_test", L"2", path, 64), L"2");
    EXPECT_EQ(platform::read_profile_string(L"UPDATE", L"is_test", L"2", L"", 64), L"2") << "no path is no file";
}

}  // namespace
