// Tests of files and directories on Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "tests/support/symlinks.h"
#include "win32_test_support.h"

namespace {

TEST(win32_files, lists_files_and_directories_without_dot_entries) {
    win32_test::temp_dir dir;
    win32_test::write_file(dir.file("a.txt"), "a");
    std::filesystem::create_directory(dir.file("sub"));
    auto entries = platform::list_directory(dir.path());
    std::sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) { return x.name < y.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_FALSE(entries[0].is_directory);
    EXPECT_EQ(entries[1].name, "sub");
    EXPECT_TRUE(entries[1].is_directory);
    EXPECT_TRUE(platform::list_directory(dir.file("missing")).empty());
    EXPECT_EQ(platform::list_directory(dir.path() + "\\").size(), 2u) << "a trailing separator is accepted";
}

TEST(win32_files, delete_file_removes_files_only_and_delete_tree_everything) {
    win32_test::temp_dir dir;
    win32_test::write_file(dir.file("a.txt"), "a");
    std::filesystem::create_directories(dir.file("tree\\deeper"));
    win32_test::write_file(dir.file("tree\\deeper\\b.txt"), "b");
    EXPECT_FALSE(platform::delete_file(dir.file("tree"))) << "a directory is not a file";
    EXPECT_TRUE(platform::delete_file(dir.file("a.txt")));
    EXPECT_FALSE(platform::delete_file(dir.file("a.txt"))) << "already gone";
    EXPECT_TRUE(platform::delete_tree(dir.file("tree")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("tree")));
    EXPECT_FALSE(platform::delete_tree(dir.file("tree"))) << "nothing left to delete";
    EXPECT_FALSE(platform::delete_file(""));
}

// A link (symbolic link or junction) inside a leftover folder: the folder and
// the link go, the folder the link names keeps everything in it.
TEST(win32_files, delete_tree_removes_a_link_inside_but_never_what_it_names) {
    win32_test::temp_dir dir;
    std::filesystem::create_directories(dir.file("precious"));
    win32_test::write_file(dir.file("precious\\keep.txt"), "keep");
    std::filesystem::create_directories(dir.file("temp_x\\inner"));
    win32_test::write_file(dir.file("temp_x\\inner\\old.txt"), "old");
    ASSERT_TRUE(test_links::make_symlink(dir.file("precious"), dir.file("temp_x\\j"), true));
    const std::wstring link = std::filesystem::path(dir.file("temp_x\\j")).wstring();
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link is not seen as one";

    const bool deleted = platform::delete_tree(dir.file("temp_x"));
    EXPECT_EQ(win32_test::read_file(dir.file("precious\\keep.txt")), "keep");
    EXPECT_TRUE(std::filesystem::exists(dir.file("precious")));
    if (test_links::links_deleted_as_links()) {
        EXPECT_TRUE(deleted);
        EXPECT_FALSE(std::filesystem::exists(dir.file("temp_x")));
    } else {
        // Wine cannot remove the link without following it: the rest goes.
        EXPECT_FALSE(std::filesystem::exists(dir.file("temp_x\\inner")));
    }
}

TEST(win32_files, executable_path_names_this_program) {
    const std::string path = platform::executable_path();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(path.ends_with("\\win32_platform_tests.exe")) << path;
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
}

TEST(win32_files, append_file_adds_the_whole_source_at_the_end) {
    win32_test::temp_dir dir;
    const std::string big(200000, 'x');  // more than one copy block
    win32_test::write_file(dir.file("target"), "head-");
    win32_test::write_file(dir.file("source"), big);
    std::FILE* target = std::fopen(dir.file("target").c_str(), "ab");
    std::FILE* source = std::fopen(dir.file("source").c_str(), "rb");
    ASSERT_NE(target, nullptr);
    ASSERT_NE(source, nullptr);
    std::fgetc(source);  // a source read half-way still counts from its first byte
    EXPECT_EQ(platform::append_file(target, source), static_cast<std::int64_t>(big.size()));
    std::fclose(source);
    std::fclose(target);
    EXPECT_TRUE(win32_test::read_file(dir.file("target")) == "head-" + big);
    EXPECT_EQ(platform::append_file(nullptr, nullptr), -1);
}

}  // namespace
