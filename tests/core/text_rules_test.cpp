// Tests of the shared text rules: ASCII case folding and the last path component.
#include "platform/text_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using platform::equal_ignoring_ascii_case;
using platform::last_path_component;
using platform::starts_with_ignoring_ascii_case;

TEST(text_rules, ascii_case_folds_a_to_z_only) {
    struct case_row {
        std::string_view a;
        std::string_view b;
        bool equal;
    };
    const case_row cases[] = {
        {"d41d8cd98f00b204e9800998ecf8427e", "D41D8CD98F00B204E9800998ECF8427E", true},
        {"abc", "abc ", false},
        {"", "", true},
        {"[", "{", false},  // 0x5B and 0x7B differ by 0x20 but are no letters
        {"@", "`", false},
        {"\xC3\x84", "\xC3\xA4", false},  // non-ASCII letters are not folded
    };
    for (const auto& c : cases) {
        EXPECT_EQ(equal_ignoring_ascii_case(c.a, c.b), c.equal) << c.a << " vs " << c.b;
    }
    EXPECT_TRUE(equal_ignoring_ascii_case(std::wstring_view(L"UPDATE"), std::wstring_view(L"update")));
    EXPECT_FALSE(equal_ignoring_ascii_case(std::wstring_view(L"\u00C4"), std::wstring_view(L"\u00E4")));
    EXPECT_TRUE(
        starts_with_ignoring_ascii_case(std::string_view("Content-Range: bytes"), std::string_view("content-range:")));
    EXPECT_FALSE(starts_with_ignoring_ascii_case(std::string_view("Content"), std::string_view("content-range:")));
}

TEST(text_rules, last_path_component_follows_the_later_separator) {
    struct case_row {
        std::string_view path;
        std::string_view expected;
    };
    const case_row cases[] = {
        {"http://h/files/setup.exe", "setup.exe"},
        {"C:\\dir\\setup.exe", "setup.exe"},
        {"http://h/files\\setup.exe", "setup.exe"},
        {"http://h/..\\..\\evil.exe", "evil.exe"},
        {"C:\\dir/setup.exe", "setup.exe"},
        {"setup.exe", "setup.exe"},
        {"http://h/files/", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(last_path_component(c.path), c.expected) << "path " << c.path;
    }
}

}  // namespace
