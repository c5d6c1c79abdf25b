// Tests of starting files the way the shell's "open" verb does.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/process.h"
#include "tests/support/eventually.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using test_support::eventually;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {

// A script that writes its working directory, its arguments and its open
// descriptors to report, in one rename so the file appears complete.
std::string reporting_script(const std::string& report) {
    return "#!/bin/sh\n"
           "{ pwd; echo \"$#:$*\"; ls -l /proc/$$/fd; } > '" +
           report +
           ".tmp'\n"
           "mv '" +
           report + ".tmp' '" + report + "'\n";
}

TEST(shell_open, starts_a_script_in_the_working_directory_with_its_parameters) {
    temp_dir dir;
    temp_dir work;
    const std::string script = dir.file("installer.sh");
    const std::string report = dir.file("report");
    write_file(script, reporting_script(report));
    fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);  // no execute bit yet

    // A descriptor of ours without close-on-exec must not reach the program.
    int leak[2];
    ASSERT_EQ(::pipe(leak), 0);
    struct stat pipe_info {};
    ASSERT_EQ(::fstat(leak[0], &pipe_info), 0);

    const std::intptr_t result = platform::shell_open(script, "/S  --quiet", work.path().string());
    ::close(leak[0]);
    ::close(leak[1]);
    ASSERT_GT(result, 32) << "errno " << errno;
    ASSERT_TRUE(eventually([&] { return fs::exists(report); })) << "the script never ran";

    const std::string text = read_file(report);
    EXPECT_EQ(text.substr(0, text.find('\n')), fs::canonical(work.path()).string());
    EXPECT_NE(text.find("\n2:/S --quiet\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("pipe:[" + std::to_string(pipe_info.st_ino) + "]"), std::string::npos)
        << "inherited our pipe:\n"
        << text;
    EXPECT_TRUE((fs::status(script).permissions() & fs::perms::owner_exec) != fs::perms::none);
}

TEST(shell_open, empty_parameters_give_no_arguments) {
    temp_dir dir;
    const std::string script = dir.file("setup.sh");
    const std::string report = dir.file("report");
    write_file(script, reporting_script(report));
    ASSERT_GT(platform::shell_open(script, "", "."), 32);
    ASSERT_TRUE(eventually([&] { return fs::exists(report); }));
    EXPECT_NE(read_file(report).find("\n0:\n"), std::string::npos) << read_file(report);
}

struct failure_case {
    const char* what;
    std::string file;
    std::string working_dir;
    std::intptr_t expected;
};

TEST(shell_open, failures_give_win32_codes) {
    temp_dir dir;
    write_file(dir.file("script.sh"), "#!/bin/sh\nexit 0\n");
    write_file(dir.file("bad_interpreter.sh"), "#!/nonexistent/interpreter\n");
    write_file(dir.file("unreadable.sh"), "#!/bin/sh\n");
    fs::permissions(dir.file("unreadable.sh"), fs::perms::none);
    const bool root = ::geteuid() == 0;

    const std::vector<failure_case> cases = {
        {"missing file", dir.file("missing.exe"), ".", 2},
        {"empty name", "", ".", 2},
        {"missing working directory", dir.file("script.sh"), dir.file("no/such/dir"), 2},
        {"missing interpreter", dir.file("bad_interpreter.sh"), ".", 2},
        {"unreadable file", dir.file("unreadable.sh"), ".", root ? 42 : 5},
    };
    for (const failure_case& c : cases) {
        if (root && c.expected == 42) continue;  // root reads any file
        errno = 0;
        const std::intptr_t result = platform::shell_open(c.file, "", c.working_dir);
        const int error = errno;
        EXPECT_EQ(result, c.expected) << c.what;
        EXPECT_NE(error, 0) << c.what << ": errno left for the caller's log line";
    }
}

}  // namespace
