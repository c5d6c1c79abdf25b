// Tests of the Toolhelp snapshot, the bounded wait, termination and the
// shell's open verb on Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/process.h"
#include "platform/text.h"
#include "win32_test_support.h"

namespace {

using wait_result = platform::process_handle::wait_result;

std::vector<platform::process_entry> find_all(const std::wstring& name) {
    std::vector<platform::process_entry> found;
    for (const auto& entry : platform::snapshot_processes()) {
        if (::lstrcmpiW(entry.exe_name.c_str(), name.c_str()) == 0) found.push_back(entry);
    }
    return found;
}

// A copy of the helper under a name of its own, in mixed case.
class named_child_copy {
public:
    named_child_copy() {
        name_ = "TamsaProductLongName_" + std::to_string(::GetCurrentProcessId()) + ".Exe";
        std::filesystem::copy_file(TEST_CHILD_PATH, dir_.file(name_));
    }
    std::string path() const { return dir_.file(name_); }
    std::wstring name() const { return platform::utf8_to_wide(name_); }

private:
    win32_test::temp_dir dir_;
    std::string name_;
};

TEST(win32_process, snapshot_finds_every_process_of_a_name_with_its_id) {
    named_child_copy copy;
    win32_test::child_process first(copy.path(), {"forever"});
    win32_test::child_process second(copy.path(), {"forever"});
    ASSERT_EQ(first.read_line(), "ready");
    ASSERT_EQ(second.read_line(), "ready");
    const auto found = find_all(copy.name());
    ASSERT_EQ(found.size(), 2u);
    std::vector<DWORD> ids{static_cast<DWORD>(found[0].pid), static_cast<DWORD>(found[1].pid)};
    EXPECT_NE(std::find(ids.begin(), ids.end(), first.pid()), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), second.pid()), ids.end());
    EXPECT_EQ(found[0].exe_name, copy.name()) << "the name as it is, no path";
    for (const auto& entry : platform::snapshot_processes()) EXPECT_NE(entry.pid, 0) << "the idle process is left out";
}

TEST(win32_process, wait_reports_time_out_then_the_end_after_termination) {
    win32_test::child_process child(TEST_CHILD_PATH, {"forever"});
    ASSERT_EQ(child.read_line(), "ready");
    platform::process_handle process(static_cast<platform::process_id>(child.pid()));
    ASSERT_TRUE(process.valid());
    EXPECT_EQ(process.wait(100), wait_result::timeout);
    EXPECT_TRUE(process.terminate());
    EXPECT_EQ(process.wait(5000), wait_result::ended);
    ASSERT_TRUE(child.exited(5000));
    EXPECT_EQ(child.exit_code(), 0u) << "terminated with exit code 0";
}

TEST(win32_process, wait_sees_a_process_that_ends_by_itself) {
    win32_test::child_process child(TEST_CHILD_PATH, {"sleep", "100"});
    platform::process_handle process(static_cast<platform::process_id>(child.pid()));
    ASSERT_TRUE(process.valid());
    EXPECT_EQ(process.wait(10000), wait_result::ended);
}

TEST(win32_process, a_process_that_is_not_there_cannot_be_opened) {
    platform::process_handle none(0);
    EXPECT_FALSE(none.valid());
    EXPECT_EQ(none.wait(10), wait_result::failed);
    EXPECT_FALSE(none.terminate());
    platform::process_handle moved = std::move(none);
    EXPECT_FALSE(moved.valid());
}

TEST(win32_process, shell_open_starts_a_program_and_reports_a_missing_file) {
    ASSERT_TRUE(platform::initialize_com());
    EXPECT_TRUE(platform::initialize_com()) << "already initialised counts as success";
    win32_test::temp_dir dir;
    const std::string marker = dir.file("started.txt");
    // cmd.exe ships with every Wine prefix and Windows system: the started
    // program leaves a file behind in its working directory.
    const std::string script = dir.file("installer.bat");
    win32_test::write_file(script, "@echo started> started.txt\r\n");
    EXPECT_GT(platform::shell_open(script, "", dir.path()), 32);
    EXPECT_TRUE(win32_test::eventually([&] { return std::filesystem::exists(marker); }))
        << "ran in its working directory";

    errno = 0;
    const std::intptr_t missing = platform::shell_open(dir.file("missing.exe"), "", dir.path());
    EXPECT_LE(missing, 32);
    EXPECT_EQ(errno, 2) << "ERROR_FILE_NOT_FOUND, as GetLastError tells it";
}

}  // namespace
