// Tests of directory listing, deletion and the program's own path.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using test_support::temp_dir;
using test_support::write_file;

namespace {

std::map<std::string, bool> listing(const std::string& directory) {
    std::map<std::string, bool> names;
    for (const auto& entry : platform::list_directory(directory)) {
        EXPECT_TRUE(names.emplace(entry.name, entry.is_directory).second) << "listed twice: " << entry.name;
    }
    return names;
}

TEST(files, list_directory_reports_names_and_kinds) {
    temp_dir dir;
    ASSERT_FALSE(dir.path().empty());
    write_file(dir.file("TamsaUpdate.exe_bak"), "x");
    write_file(dir.file(".hidden"), "x");
    write_file(dir.file("感叹号.png"), "x");
    fs::create_directory(dir.file("temp_1"));
    fs::create_directory(dir.file(".cache"));
    write_file(dir.file("temp_1/inner.txt"), "x");  // subdirectories are not descended into
    fs::create_directory_symlink(dir.file("temp_1"), dir.file("link_to_dir"));
    fs::create_symlink(dir.file("missing"), dir.file("dangling"));

    const std::map<std::string, bool> expected = {
        {"TamsaUpdate.exe_bak", false}, {".hidden", false},  {"感叹号.png", false}, {"temp_1", true}, {".cache", true},
        {"link_to_dir", false},         {"dangling", false},
    };
    EXPECT_EQ(listing(dir.path().string()), expected);
    EXPECT_EQ(listing(dir.dir()), expected) << "a trailing separator changes nothing";
}

TEST(files, list_directory_of_what_is_no_directory_is_empty) {
    temp_dir dir;
    write_file(dir.file("plain"), "x");
    EXPECT_TRUE(platform::list_directory(dir.file("missing")).empty());
    EXPECT_TRUE(platform::list_directory(dir.file("plain")).empty());
}

TEST(files, delete_file_removes_files_only) {
    temp_dir dir;
    write_file(dir.file("a.tmp"), "x");
    fs::create_directory(dir.file("sub"));
    EXPECT_TRUE(platform::delete_file(dir.file("a.tmp")));
    EXPECT_FALSE(fs::exists(dir.file("a.tmp")));
    EXPECT_FALSE(platform::delete_file(dir.file("a.tmp"))) << "already gone";
    EXPECT_FALSE(platform::delete_file(dir.file("sub"))) << "a directory is refused";
    EXPECT_TRUE(fs::is_directory(dir.file("sub")));
    EXPECT_FALSE(platform::delete_file(""));
}

TEST(files, delete_tree_removes_everything_below_but_nothing_outside) {
    temp_dir dir;
    temp_dir outside;
    write_file(outside.file("keep.txt"), "keep");
    fs::create_directories(dir.file("temp_x/a/b"));
    write_file(dir.file("temp_x/a/b/deep.txt"), "x");
    write_file(dir.file("temp_x/top.txt"), "x");
    fs::create_directory_symlink(outside.path(), dir.file("temp_x/a/link_out"));

    EXPECT_TRUE(platform::delete_tree(dir.file("temp_x")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("temp_x"))));
    EXPECT_EQ(test_support::read_file(outside.file("keep.txt")), "keep") << "followed a link out of the tree";
    EXPECT_FALSE(platform::delete_tree(dir.file("temp_x"))) << "nothing left to delete";
}

TEST(files, delete_tree_of_a_link_removes_the_link_only) {
    temp_dir dir;
    temp_dir target;
    write_file(target.file("keep.txt"), "keep");
    fs::create_directory_symlink(target.path(), dir.file("temp_link"));
    write_file(dir.file("single.txt"), "x");

    EXPECT_TRUE(platform::delete_tree(dir.file("temp_link")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("temp_link"))));
    EXPECT_TRUE(fs::exists(target.file("keep.txt")));
    EXPECT_TRUE(platform::delete_tree(dir.file("single.txt"))) << "a single file is a tree too";
    EXPECT_FALSE(fs::exists(dir.file("single.txt")));
    EXPECT_FALSE(platform::delete_tree(""));
}

TEST(files, executable_path_names_this_test_program) {
    const std::string path = platform::executable_path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/') << path;
    EXPECT_EQ(fs::path(path).filename(), "platform_tests") << path;
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
}

}  // namespace

namespace {

// Joining files: the whole source from its first byte, after what the target has.
TEST(files, append_file_adds_the_whole_source_after_the_target) {
    struct append_case {
        const char* what;
        std::string target_before;
        std::string source;
    };
    std::string big(300 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 % 251);
    const std::vector<append_case> cases = {
        {"empty source", "head", ""},
        {"into an empty target", "", "abc"},
        {"after existing bytes", "head", "tail"},
        {"larger than a copy block", "x", big},
    };
    for (const append_case& c : cases) {
        temp_dir dir;
        write_file(dir.file("source"), c.source);
        std::FILE* target = std::fopen(dir.file("target").c_str(), "wb+");
        std::FILE* source = std::fopen(dir.file("source").c_str(), "rb");
        ASSERT_NE(target, nullptr);
        ASSERT_NE(source, nullptr);
        std::fwrite(c.target_before.data(), 1, c.target_before.size(), target);  // still in stdio's buffer
        std::fgetc(source);  // a read position that is not the start
        EXPECT_EQ(platform::append_file(target, source), static_cast<std::int64_t>(c.source.size())) << c.what;
        std::fclose(source);
        std::fclose(target);
        EXPECT_TRUE(test_support::read_file(dir.file("target")) == c.target_before + c.source) << c.what;
    }
    EXPECT_EQ(platform::append_file(nullptr, nullptr), -1);
}

}  // namespace
