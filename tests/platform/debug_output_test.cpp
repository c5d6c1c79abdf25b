// Tests of the debugger output: whole lines on standard error.
#include "platform/debug_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Redirects standard error into a pipe for the life of the object and
// collects everything written to it.
class stderr_capture {
public:
    stderr_capture() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[1]);
        read_fd_ = fds[0];
        reader_ = std::thread([this] {
            char buffer[4096];
            ssize_t got = 0;
            while ((got = ::read(read_fd_, buffer, sizeof buffer)) > 0) text_.append(buffer, static_cast<size_t>(got));
        });
    }
    ~stderr_capture() { finish(); }

    // Restores standard error and returns what was captured.
    const std::string& finish() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
            reader_.join();
            ::close(read_fd_);
        }
        return text_;
    }

private:
    int saved_ = -1;
    int read_fd_ = -1;
    std::thread reader_;
    std::string text_;
};

struct output_case {
    const char* what;
    std::string text;
    std::string written;
};

TEST(debug_output, writes_one_line_per_call) {
    const std::vector<output_case> cases = {
        {"line with its own line feed", "[TamsaUpdate]: x \n", "[TamsaUpdate]: x \n"},
        {"line without a line feed gets one", "[TamsaUpdate] abc", "[TamsaUpdate] abc\n"},
        {"cut at a zero byte", std::string("ab\0cd", 5), "ab\n"},
        {"empty text writes nothing", "", ""},
    };
    for (const output_case& c : cases) {
        stderr_capture capture;
        platform::debug_output(c.text);
        EXPECT_EQ(capture.finish(), c.written) << c.what;
    }
}

TEST(debug_output, wide_text_is_written_as_utf8) {
    stderr_capture capture;
    platform::debug_output(std::wstring_view(L"进度 100%\n"));
    EXPECT_EQ(capture.finish(), "\xE8\xBF\x9B\xE5\xBA\xA6 100%\n");
}

TEST(debug_output, long_lines_of_two_threads_never_interleave) {
    constexpr int LINES = 200;
    constexpr std::size_t LENGTH = 20000;  // well above the pipe's atomic write size
    stderr_capture capture;
    auto writer = [](char c) {
        const std::string line(LENGTH, c);
        for (int i = 0; i < LINES; ++i) platform::debug_output(line);
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    std::istringstream lines(capture.finish());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_EQ(line.size(), LENGTH) << "line " << count << " was cut or merged";
        ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "line " << count << " mixes two writers";
    }
    EXPECT_EQ(count, 2 * LINES);
}

}  // namespace
