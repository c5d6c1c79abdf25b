// Tests of the switch tokenizer and of the launch parameters' validation.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "app/command_line_parser.h"
#include "app/updater_app.h"
#include "core/text_utils.h"

namespace {

using value_map = std::map<std::wstring, std::wstring>;

std::string describe(const value_map& values) {
    std::string text = "{";
    for (const auto& [key, value] : values) text += " [" + wide_to_utf8(key) + "]=[" + wide_to_utf8(value) + "]";
    return text + " }";
}

struct tokenizer_case {
    const wchar_t* command_line;
    value_map expected;
};

TEST(command_line_parser, scans_switches) {
    const tokenizer_case cases[] = {
        {L"", {}},
        {L"no switches at all", {}},
        {L"-", {}},
        {L"-ver=412 /prod:tamsa", {{L"ver", L"412"}, {L"prod", L"tamsa"}}},
        // Keys fold A to Z only; values keep their case.
        {L"-PROD=X -ChAnNeL=Beta", {{L"prod", L"X"}, {L"channel", L"Beta"}}},
        {L"-\u00C4B=1", {{L"\u00C4b", L"1"}}},
        // The first occurrence of a key wins, whatever its case.
        {L"-ver=1 -VER=2 -ver=3", {{L"ver", L"1"}}},
        // A quoted value keeps its blanks and loses its quotes.
        {L"-exename=\"My Tool.exe\" -ver=1", {{L"exename", L"My Tool.exe"}, {L"ver", L"1"}}},
        // An unterminated quote takes the rest of the text.
        {L"-exename=\"My Tool.exe -ver=1", {{L"exename", L"My Tool.exe -ver=1"}}},
        {L"-exename=\"", {{L"exename", L""}}},
        {L"-a=\"\" -b=2", {{L"a", L""}, {L"b", L"2"}}},
        // Without a separator the key gets an empty value and the word is skipped.
        {L"-ver 412 -prod=x", {{L"ver", L""}, {L"prod", L"x"}}},
        // A separator at the very end: an empty value.
        {L"-ver=1 -prod=", {{L"ver", L"1"}, {L"prod", L""}}},
        {L"-prod:", {{L"prod", L""}}},
        // An empty key is dropped and scanning goes on after the blank.
        {L"-=x -prod=y", {{L"prod", L"y"}}},
        {L"- -prod=y", {{L"prod", L"y"}}},
        // A key at the end of the text, or ended by a blank.
        {L"-quiet", {{L"quiet", L""}}},
        {L"-quiet -prod=y", {{L"quiet", L""}, {L"prod", L"y"}}},
        // Text before the first switch is skipped; a dash inside a word starts a switch.
        {L"TamsaUpdate.exe -prod=y", {{L"prod", L"y"}}},
        {L"some-word=v", {{L"word", L"v"}}},
        // A value ends at the next blank; a dash inside it is part of it.
        {L"-url=http://h/a-b -ver=2", {{L"url", L"http://h/a-b"}, {L"ver", L"2"}}},
        // Inside a value the first separator ends the key, the rest is value.
        {L"-url:http://h:80/x", {{L"url", L"http://h:80/x"}}},
        // A value that ends the text.
        {L"-ver=412", {{L"ver", L"412"}}},
        // Two blanks: the second starts no switch.
        {L"-a=1  -b=2", {{L"a", L"1"}, {L"b", L"2"}}},
        // A trailing blank after a value.
        {L"-a=1 ", {{L"a", L"1"}}},
        // The quoted value's end quote is followed directly by another switch.
        {L"-a=\"x y\"-b=2", {{L"a", L"x y"}, {L"b", L"2"}}},
    };
    for (const tokenizer_case& c : cases) {
        command_line_parser parser;
        EXPECT_FALSE(parser.parse(c.command_line));
        EXPECT_EQ(parser.values, c.expected) << "command line [" << wide_to_utf8(c.command_line) << "] got "
                                             << describe(parser.values) << " expected " << describe(c.expected);
    }
}

TEST(command_line_parser, get_folds_the_key_and_parse_starts_afresh) {
    command_line_parser parser;
    parser.parse(L"-Prod=First -ver=1");
    EXPECT_EQ(parser.get(L"PROD"), L"First");
    EXPECT_EQ(parser.get(L"prod"), L"First");
    EXPECT_EQ(parser.get(L"missing"), L"");
    parser.parse(L"-prod=Second");
    EXPECT_EQ(parser.get(L"prod"), L"Second");
    EXPECT_EQ(parser.get(L"ver"), L"") << "values of the earlier text must be gone";
    EXPECT_EQ(parser.text, L"-prod=Second");
}

const wchar_t* const VALID =
    L"-channel=beta -exename=\"Tamsa Tool.exe\" -url=http://x/p -prod=tamsa -ver=4.1 "
    L"-quitmsgid=49200 -hwnd=12345";

TEST(parse_parameters, fills_the_fields_of_a_valid_command_line) {
    updater_app app;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(app.parse_parameters(VALID));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(app.channel, L"beta");
    EXPECT_EQ(app.exe_name, L"Tamsa Tool.exe");
    EXPECT_EQ(app.page_url, L"http://x/p");
    EXPECT_EQ(app.product, L"tamsa");
    EXPECT_EQ(app.version, L"4.1");
    EXPECT_EQ(app.quit_message_id, 49200u);
    EXPECT_EQ(app.product_window, 12345u);
}

struct number_case {
    const wchar_t* text;
    std::uint32_t value;  // the 32-bit result as stored
};

TEST(parse_parameters, reads_decimal_numbers_saturated_at_32_bits) {
    const number_case cases[] = {
        {L"42", 42},
        {L"+42", 42},
        {L"-1", 0xFFFFFFFFu},
        {L"0x1A2B", 0},
        {L"12abc", 12},
        {L"007", 7},
        {L"2147483647", 2147483647u},
        {L"2147483648", 2147483647u},
        {L"99999999999999999999999", 2147483647u},
        {L"-2147483648", 0x80000000u},
        {L"-2147483649", 0x80000000u},
        {L"-99999999999999999999999", 0x80000000u},
        {L"+-5", 0},
        {L" \t 31", 31},  // leading white space, possible inside quotes only
        {L"", 0},
    };
    for (const number_case& c : cases) {
        updater_app app;
        std::wstring line = std::wstring(L"-prod=p -channel=c -ver=1 -hwnd=7 -quitmsgid=\"") + c.text + L"\"";
        testing::internal::CaptureStderr();
        bool accepted = app.parse_parameters(line);
        testing::internal::GetCapturedStderr();
        const std::uint32_t expected = c.value;
        EXPECT_EQ(app.quit_message_id, expected) << "quitmsgid=" << wide_to_utf8(c.text);
        EXPECT_EQ(accepted, expected != 0) << "quitmsgid=" << wide_to_utf8(c.text);

        updater_app window_app;
        line = std::wstring(L"-prod=p -channel=c -ver=1 -quitmsgid=7 -hwnd=\"") + c.text + L"\"";
        testing::internal::CaptureStderr();
        window_app.parse_parameters(line);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(window_app.product_window, expected) << "hwnd=" << wide_to_utf8(c.text);
    }
}

struct rejection_case {
    const wchar_t* command_line;
    std::string log;
};

TEST(parse_parameters, rejects_incomplete_parameters_with_one_log_line) {
    const rejection_case cases[] = {
        {L"", "TamsaUpdater: Product Name Empty \n"},
        {L"-channel=beta -ver=1 -hwnd=1 -quitmsgid=1", "TamsaUpdater: Product Name Empty \n"},
        {L"-channel=beta -ver=1 -hwnd=1 -quitmsgid=1 -prod=", "TamsaUpdater: Product Name Empty \n"},
        {L"-prod=p -ver=1 -hwnd=1 -quitmsgid=1",
         "[Updater] Params Error: channel => [],version => [1],hwnd => [1],quitmsgid => [1]\n"},
        {L"-prod=p -channel=\u4E0A -ver 412 -hwnd=1 -quitmsgid=1",
         "[Updater] Params Error: channel => [\xE4\xB8\x8A],version => [],hwnd => [1],quitmsgid => [1]\n"},
        {L"-prod=p -channel=c -ver=4.1 -quitmsgid=-1",
         "[Updater] Params Error: channel => [c],version => [4.1],hwnd => [0],quitmsgid => [-1]\n"},
        {L"-prod=p -channel=c -ver=4.1 -hwnd=0x1A2B -quitmsgid=5",
         "[Updater] Params Error: channel => [c],version => [4.1],hwnd => [0],quitmsgid => [5]\n"},
        {L"-prod=p -channel=c -ver=4.1 -hwnd=3000000000 -quitmsgid=0",
         "[Updater] Params Error: channel => [c],version => [4.1],hwnd => [2147483647],quitmsgid => [0]\n"},
    };
    for (const rejection_case& c : cases) {
        updater_app app;
        testing::internal::CaptureStderr();
        bool accepted = app.parse_parameters(c.command_line);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(accepted) << "command line [" << wide_to_utf8(c.command_line) << "]";
        EXPECT_EQ(log, c.log) << "command line [" << wide_to_utf8(c.command_line) << "]";
    }
}

TEST(parse_parameters, accepts_a_negative_message_id_and_ignores_unknown_keys) {
    updater_app app;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(app.parse_parameters(L"-prod=p -channel=c -ver=1 -hwnd=9 -quitmsgid=-1 -colour=red"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(app.quit_message_id, 0xFFFFFFFFu);
}

TEST(parse_parameters, stops_reading_after_a_missing_product) {
    updater_app app;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(app.parse_parameters(L"-channel=c -exename=e -url=u -ver=1 -hwnd=9 -quitmsgid=3"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(app.channel, L"c");
    EXPECT_EQ(app.exe_name, L"e");
    EXPECT_EQ(app.page_url, L"u");
    EXPECT_EQ(app.version, L"") << "the version is read only after the product";
    EXPECT_EQ(app.quit_message_id, 0u);
    EXPECT_EQ(app.product_window, 0u);
}

}  // namespace
