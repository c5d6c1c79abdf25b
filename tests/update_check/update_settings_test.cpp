// Tests of update.ini: the type value, the host and the _wtoi rules.
#include "update_check/update_settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <string>

#include "core/text_utils.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr std::int32_t INT_MAX32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t INT_MIN32 = std::numeric_limits<std::int32_t>::min();

struct wtoi_case {
    const wchar_t* text;
    std::int32_t expected;
};

TEST(wtoi, follows_the_c_runtime_rules) {
    const wtoi_case cases[] = {
        {L"2", 2},
        {L"12abc", 12},
        {L"", 0},
        {L"abc", 0},
        {L"  -3", -3},
        {L"\t\n+7", 7},
        {L"- 5", 0},
        {L"+-5", 0},
        {L"0x10", 0},
        {L"007", 7},
        {L"2147483647", INT_MAX32},
        {L"2147483648", INT_MAX32},
        {L"99999999999999999999999", INT_MAX32},
        {L"-2147483648", INT_MIN32},
        {L"-2147483649", INT_MIN32},
        {L"-99999999999999999999999", INT_MIN32},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wtoi(c.text), c.expected) << "text \"" << wide_to_utf8(c.text) << "\"";
    }
}

struct host_case {
    const char* text;
    bool valid;
};

TEST(update_host, accepts_only_host_and_port_characters) {
    const host_case cases[] = {
        {"update.tamsa.example", true},
        {"127.0.0.1:8080", true},
        {"[::1]:8080", true},
        {"my-host", true},
        {"", false},
        {"evil.example/soft?x=1", false},
        {"a b", false},
        {"user@host", false},
        {"host#frag", false},
        {"host%20", false},
        {"h\xC3\xA9te", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_valid_update_host(c.text), c.valid) << "host \"" << c.text << "\"";
    }
    EXPECT_TRUE(is_valid_update_host(std::string(253, 'a')));
    EXPECT_FALSE(is_valid_update_host(std::string(254, 'a')));
}

struct settings_case {
    const char* name;
    const char* content;  // nullptr: no file
    std::int32_t is_test;
    const char* host;  // nullptr: the default host
};

TEST(update_settings, reads_type_and_host_from_the_update_section) {
    const std::string long_host(254, 'a');
    const std::string long_host_ini = "[UPDATE]\nhost=" + long_host + "\n";
    const settings_case cases[] = {
        {"no file", nullptr, 2, nullptr},
        {"is_test 1", "[UPDATE]\nis_test=1\n", 1, nullptr},
        {"is_test 0", "[UPDATE]\nis_test=0\n", 0, nullptr},
        {"is_test -3", "[UPDATE]\nis_test=-3\n", -3, nullptr},
        {"is_test 12abc", "[UPDATE]\nis_test=12abc\n", 12, nullptr},
        {"is_test empty", "[UPDATE]\nis_test=\n", 0, nullptr},
        {"is_test not a number", "[UPDATE]\nis_test=yes\n", 0, nullptr},
        {"other section", "[OTHER]\nis_test=5\nhost=127.0.0.1:1\n", 2, nullptr},
        // Only the first 15 characters are read: 000000000000001 of 0000000000000012345.
        {"is_test cut at 15", "[UPDATE]\nis_test=0000000000000012345\n", 1, nullptr},
        {"host with port", "[UPDATE]\nhost=127.0.0.1:8080\n", 2, "127.0.0.1:8080"},
        {"host ipv6", "[UPDATE]\nis_test=1\nhost=[::1]:81\n", 1, "[::1]:81"},
        {"host with path", "[UPDATE]\nhost=evil.example/x?y=1\n", 2, nullptr},
        {"host empty", "[UPDATE]\nhost=\n", 2, nullptr},
        {"host too long", long_host_ini.c_str(), 2, nullptr},
    };
    for (const auto& c : cases) {
        test_support::temp_dir dir;
        const std::string path = c.content != nullptr ? dir.write("update.ini", c.content) : dir.file("update.ini");
        const update_settings settings = read_update_settings(utf8_to_wide(path));
        EXPECT_EQ(settings.is_test, c.is_test) << c.name;
        EXPECT_EQ(settings.host, c.host != nullptr ? c.host : default_update_host()) << c.name;
    }
}

TEST(update_settings, lives_beside_the_program_unless_a_test_moves_it) {
    set_update_settings_path(L"");
    EXPECT_EQ(update_settings_path(), module_dir_w() + L"update.ini");
    set_update_settings_path(L"/elsewhere/update.ini");
    EXPECT_EQ(update_settings_path(), L"/elsewhere/update.ini");
    set_update_settings_path(L"");
    EXPECT_EQ(update_settings_path(), module_dir_w() + L"update.ini");
}

// The indented block under README's "## update.ini" heading.
std::string readme_example() {
    std::ifstream readme(std::string(TAMSA_SOURCE_DIR) + "/README.md");
    std::string line;
    std::string block;
    bool in_section = false;
    while (std::getline(readme, line)) {
        if (line.rfind("#", 0) == 0) {  // a heading of any level
            if (in_section) break;
            in_section = line.ends_with("# update.ini");
        } else if (in_section && line.rfind("    ", 0) == 0) {
            block += line.substr(4) + "\n";
        } else if (in_section && !block.empty()) {
            break;
        }
    }
    return block;
}

// A reader copies the example from the README: it must do what it says.
TEST(update_settings, readme_example_sets_the_host_it_shows) {
    const std::string example = readme_example();
    ASSERT_NE(example.find("[UPDATE]"), std::string::npos) << "no example found in README:\n" << example;
    test_support::temp_dir dir;
    const update_settings settings = read_update_settings(utf8_to_wide(dir.write("update.ini", example)));
    EXPECT_EQ(settings.host, "127.0.0.1:8080") << example;
    EXPECT_EQ(settings.is_test, 2) << example;
}

TEST(update_settings, default_host_is_a_valid_host) {
    EXPECT_TRUE(is_valid_update_host(default_update_host())) << default_update_host();
}

}  // namespace
