// Tests of the debugger output on Windows: what a debug viewer receives
// through OutputDebugString, and the copy on standard error.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "win32_test_support.h"

namespace {

TEST(win32_debug_output, a_debug_viewer_receives_each_text_as_given) {
    win32_test::debug_output_reader viewer;
    ASSERT_TRUE(viewer.active());
    platform::debug_output(std::string_view("[TamsaUpdate]: first \n"));
    platform::debug_output(std::string_view("no line end"));
    platform::debug_output(std::string_view("cut\0here", 8));
    platform::debug_output(std::string_view(""));
    const DWORD self = ::GetCurrentProcessId();
    ASSERT_TRUE(win32_test::eventually([&] { return viewer.lines_of(self).size() >= 3; }));
    EXPECT_EQ(viewer.lines_of(self), (std::vector<std::string>{"[TamsaUpdate]: first \n", "no line end", "cut"}))
        << "nothing is added, an embedded zero ends the text, an empty text sends nothing";
}

TEST(win32_debug_output, wide_text_reaches_the_viewer_in_the_ansi_code_page) {
    if (::GetACP() != 936) GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 936";
    win32_test::debug_output_reader viewer;
    ASSERT_TRUE(viewer.active());
    platform::debug_output(std::wstring_view(L"TamsaUpdater: \u4E0A\u53F7\u5668\n"));
    const DWORD self = ::GetCurrentProcessId();
    ASSERT_TRUE(win32_test::eventually([&] { return !viewer.lines_of(self).empty(); }));
    EXPECT_EQ(viewer.lines_of(self).front(), "TamsaUpdater: \xC9\xCF\xBA\xC5\xC6\xF7\n");
}

TEST(win32_debug_output, standard_error_gets_whole_utf8_lines_from_every_thread) {
    testing::internal::CaptureStderr();
    std::vector<std::thread> writers;
    for (char c : std::string("abcd")) {
        writers.emplace_back([c] {
            for (int i = 0; i < 50; ++i) platform::debug_output(std::string(300, c));
        });
    }
    for (std::thread& t : writers) t.join();
    platform::debug_output(std::wstring_view(L"\u4E0A\u53F7\u5668"));
    const std::string text = testing::internal::GetCapturedStderr();
    std::size_t lines = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(start, end - start);
        if (lines < 200) {
            EXPECT_EQ(line, std::string(300, line[0])) << "a line mixed with another";
        }
        start = end + 1;
        ++lines;
    }
    EXPECT_EQ(lines, 201u);
    EXPECT_TRUE(text.ends_with("\xE4\xB8\x8A\xE5\x8F\xB7\xE5\x99\xA8\n")) << "UTF-8 with a line end added";
}

}  // namespace
