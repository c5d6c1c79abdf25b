// The cleanup of leftovers of earlier updates.
#include "download/leftover_cleanup.h"

#include <gtest/gtest.h>

#include "download_test_support.h"
#include "tests/support/symlinks.h"

namespace {

using namespace download_test;

TEST(clear_files, removes_temp_directories_and_old_updater_files_only) {
    struct entry_case {
        const char* name;
        bool is_dir;
        bool removed;
    };
    const entry_case cases[] = {
        {"old temp_files", true, true},
        {"temp_", true, true},
        {"TEMP_x", true, false},
        {"temp_1.txt", false, false},
        {"TamsaUpdate.exe_bak", false, true},
        {"x.TamsaUpdate.exe_1", false, true},
        {"TamsaUpdate.exe", false, false},
        {"TamsaUpdate.exe_dir", true, false},
        {"tamsaupdate.exe_lower", false, false},
        {".temp_hidden", true, false},        // directories starting with a dot are not listed
        {".TamsaUpdate.exe_x", false, true},  // files starting with a dot are
        {"keep.txt", false, false},
        // Our own download files of a killed run: the package and its parts.
        {"TamsaUpdate.download_setup.exe", false, true},
        {"TamsaUpdate.download_setup.exe-0", false, true},
        {"TamsaUpdate.download_setup.exe-3", false, true},
        {"TamsaUpdate.download_dir", true, false},
        {"x.TamsaUpdate.download_y", false, false},
        {"setup.exe-0", false, false},  // not ours by its name
    };
    temp_dir dir;
    for (const auto& c : cases) {
        if (c.is_dir) {
            std::filesystem::create_directories(dir.file(c.name) + "/inner/deeper");
            write_file(dir.file(c.name) + "/inner/deeper/file.bin", "x");
        } else {
            write_file(dir.file(c.name), "x");
        }
    }
    // Only the listed directory is looked at, never its subdirectories.
    std::filesystem::create_directory(dir.file("sub"));
    write_file(dir.file("sub") + "/TamsaUpdate.exe_inner", "x");

    testing::internal::CaptureStderr();
    clear_files_in(dir.dir());
    const std::string log = testing::internal::GetCapturedStderr();

    for (const auto& c : cases) {
        EXPECT_EQ(file_exists(dir.file(c.name)), !c.removed)
            << c.name << (c.removed ? " should be gone" : " should stay");
    }
    EXPECT_TRUE(file_exists(dir.file("sub") + "/TamsaUpdate.exe_inner"));
    // Listed: every case but the dot directory, plus "sub".
    const std::string count = std::to_string(std::size(cases) - 1 + 1);
    EXPECT_NE(log.find("[TamsaUpdate] clear_files Find File Count:" + count + " \n"), std::string::npos) << log;
    EXPECT_NE(log.find("[TamsaUpdate] clear_files Find File Count:" + count + " End \n"), std::string::npos) << log;
}

// A link with the name of one of our download files is removed itself;
// the file and the folder it names stay whole.
TEST(clear_files, a_link_named_like_our_download_file_goes_but_not_what_it_names) {
    temp_dir dir;
    temp_dir outside;
    write_file(outside.file("precious.dll"), "keep me");
    std::filesystem::create_directories(outside.file("folder"));
    write_file(outside.file("folder") + "/inner.txt", "keep me too");
    const bool file_link = test_links::links_deleted_as_links();
    if (file_link) {
        ASSERT_TRUE(
            test_links::make_symlink(outside.file("precious.dll"), dir.file("TamsaUpdate.download_a.exe-1"), false));
    }
    ASSERT_TRUE(test_links::make_symlink(outside.file("folder"), dir.file("TamsaUpdate.download_b.exe"), true));

    testing::internal::CaptureStderr();
    clear_files_in(dir.dir());
    (void)testing::internal::GetCapturedStderr();

    EXPECT_EQ(read_file(outside.file("precious.dll")), "keep me");
    EXPECT_EQ(read_file(outside.file("folder") + "/inner.txt"), "keep me too");
    if (test_links::links_deleted_as_links()) {
        EXPECT_FALSE(
            std::filesystem::exists(std::filesystem::symlink_status(dir.file("TamsaUpdate.download_a.exe-1"))));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.file("TamsaUpdate.download_b.exe"))));
    }
}

TEST(clear_files, a_missing_directory_lists_nothing_and_deletes_nothing) {
    temp_dir dir;
    testing::internal::CaptureStderr();
    clear_files_in(dir.file("missing") + "/");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("[TamsaUpdate] clear_files Find File Count:0 \n"), std::string::npos) << log;
    EXPECT_NE(log.find("[TamsaUpdate] clear_files Find File Count:0 End \n"), std::string::npos) << log;
}

TEST(list_dir_entries, gives_paths_relative_to_the_root) {
    temp_dir dir;
    std::filesystem::create_directory(dir.file("sub"));
    write_file(dir.file("sub") + "/a.txt", "x");
    std::filesystem::create_directory(dir.file("sub") + "/inner");
    std::list<dir_entry> entries;
    list_dir_entries(dir.dir(), dir.dir() + "sub/", entries);
    entries.sort([](const dir_entry& a, const dir_entry& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.front().relative_path, "sub/a.txt");
    EXPECT_EQ(entries.front().is_dir, 0);
    EXPECT_EQ(entries.back().relative_path, "sub/inner");
    EXPECT_EQ(entries.back().is_dir, 1);
}

TEST(delete_path, removes_a_file_or_a_whole_tree) {
    temp_dir dir;
    write_file(dir.file("f"), "x");
    std::filesystem::create_directories(dir.file("d") + "/e");
    write_file(dir.file("d") + "/e/g", "x");
    EXPECT_TRUE(delete_path(dir.file("f")));
    EXPECT_TRUE(delete_path(dir.file("d")));
    EXPECT_FALSE(file_exists(dir.file("f")));
    EXPECT_FALSE(file_exists(dir.file("d")));
    EXPECT_FALSE(delete_path(""));
}

}  // namespace
