// Tests of the process snapshot, the bounded wait and termination.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/linux/process_fallback.h"
#include "platform/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace platform {
// Lets failure messages name the outcome.
void PrintTo(process_handle::wait_result r, std::ostream* out) {
    static const char* const names[] = {"ended", "timeout", "failed"};
    *out << names[static_cast<int>(r)];
}
}  // namespace platform

namespace fs = std::filesystem;
using test_support::child_process;
using wait_result = platform::process_handle::wait_result;

namespace {

// The callers match names ignoring case; the snapshot reports them as they are.
bool same_name_ignoring_case(const std::wstring& a, const std::wstring& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

std::vector<platform::process_entry> find_all(const std::wstring& name) {
    std::vector<platform::process_entry> found;
    for (const auto& entry : platform::snapshot_processes()) {
        if (same_name_ignoring_case(entry.exe_name, name)) found.push_back(entry);
    }
    return found;
}

// A copy of the sleeper under a name of its own (longer than the 15
// characters of /proc/<pid>/comm, and in mixed case).
class named_sleeper_copy {
public:
    named_sleeper_copy() {
        name_ = "TamsaProductLongName_" + std::to_string(::getpid()) + ".Exe";
        path_ = dir_.file(name_);
        fs::copy_file(PLATFORM_TEST_SLEEPER, path_);
        fs::permissions(path_, fs::perms::owner_all);
    }
    const std::string& path() const { return path_; }
    std::wstring name() const { return platform::utf8_to_wide(name_); }

private:
    test_support::temp_dir dir_;
    std::string name_;
    std::string path_;
};

TEST(processes, snapshot_finds_every_process_by_its_real_name) {
    named_sleeper_copy copy;
    child_process first;
    ASSERT_TRUE(first.start({copy.path(), "forever"}));
    child_process second;
    ASSERT_TRUE(second.start({copy.path(), "forever"}));
    ASSERT_EQ(first.read_line(10000), "ready");
    ASSERT_EQ(second.read_line(10000), "ready");

    std::wstring upper = copy.name();
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    const auto found = find_all(upper);
    ASSERT_EQ(found.size(), 2u) << "both copies, found by a name in other letter case";
    EXPECT_EQ(found[0].pid, std::min(first.pid(), second.pid())) << "snapshot in process-id order";
    EXPECT_EQ(found[1].pid, std::max(first.pid(), second.pid()));
    for (const auto& entry : found) {
        EXPECT_EQ(platform::wide_to_utf8(entry.exe_name), platform::wide_to_utf8(copy.name()))
            << "the name as it is on disk, full length";
    }
}

TEST(processes, snapshot_names_a_deleted_executable_without_the_suffix) {
    named_sleeper_copy copy;
    child_process child;
    ASSERT_TRUE(child.start({copy.path(), "forever"}));
    ASSERT_EQ(child.read_line(10000), "ready");
    fs::remove(copy.path());
    const auto found = find_all(copy.name());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, child.pid());
}

TEST(processes, bounded_wait_times_out_then_sees_the_killed_process_end) {
    child_process child;
    ASSERT_TRUE(child.start({PLATFORM_TEST_SLEEPER, "forever"}));
    ASSERT_EQ(child.read_line(10000), "ready");
    platform::process_handle handle(child.pid());
    ASSERT_TRUE(handle.valid());
    EXPECT_EQ(handle.wait(50), wait_result::timeout);
    EXPECT_TRUE(handle.terminate());
    // The child is not reaped here: a zombie counts as ended.
    EXPECT_EQ(handle.wait(10000), wait_result::ended);
    ASSERT_TRUE(child.wait_for_exit(10000));
    EXPECT_EQ(child.killed_by_signal(), 9);
}

TEST(processes, bounded_wait_sees_a_process_that_exits_by_itself) {
    child_process child;
    ASSERT_TRUE(child.start({PLATFORM_TEST_SLEEPER, "sleep", "100"}));
    platform::process_handle handle(child.pid());
    ASSERT_TRUE(handle.valid());
    EXPECT_EQ(handle.wait(30000), wait_result::ended);
    ASSERT_TRUE(child.wait_for_exit(10000));
    EXPECT_TRUE(child.exited());
    EXPECT_EQ(child.exit_code(), 0);
    EXPECT_EQ(handle.wait(0), wait_result::ended) << "stays ended once reaped";
}

TEST(processes, handle_of_no_process_is_invalid) {
    for (platform::process_id pid : {0, -1, 0x7FFFFFF0}) {
        platform::process_handle handle(pid);
        EXPECT_FALSE(handle.valid()) << pid;
        EXPECT_EQ(handle.wait(0), wait_result::failed) << pid;
        EXPECT_FALSE(handle.terminate()) << pid;
    }
}

TEST(processes, handle_moves_its_process) {
    child_process child;
    ASSERT_TRUE(child.start({PLATFORM_TEST_SLEEPER, "forever"}));
    ASSERT_EQ(child.read_line(10000), "ready");
    platform::process_handle first(child.pid());
    platform::process_handle second(std::move(first));
    EXPECT_FALSE(first.valid());
    ASSERT_TRUE(second.valid());
    platform::process_handle third;
    third = std::move(second);
    EXPECT_FALSE(second.valid());
    EXPECT_TRUE(third.terminate());
    EXPECT_EQ(third.wait(10000), wait_result::ended);
}

// The wait used when the kernel has no pidfd_open.
TEST(processes, fallback_wait_sees_zombies_and_reaped_processes_end) {
    namespace backend = platform::linux_backend;
    child_process child;
    ASSERT_TRUE(child.start({PLATFORM_TEST_SLEEPER, "forever"}));
    ASSERT_EQ(child.read_line(10000), "ready");
    const int fd = backend::open_proc_directory(child.pid());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(backend::is_proc_directory(fd));
    EXPECT_EQ(backend::wait_proc_directory(fd, 30), wait_result::timeout);
    child.kill_now();
    EXPECT_EQ(backend::wait_proc_directory(fd, 10000), wait_result::ended) << "a zombie has ended";
    ASSERT_TRUE(child.wait_for_exit(10000));
    EXPECT_TRUE(backend::proc_process_ended(fd)) << "reaped";
    ::close(fd);
    EXPECT_LT(backend::open_proc_directory(0x7FFFFFF0), 0);
}

}  // namespace
