// Tests of the updater's own files in a folder others may write: exclusive
// creation, the checked reopen, reading through our own stream, free space,
// and the held file that is placed and started through what was checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {

constexpr uid_t NOBODY = 65534;

std::string read_stream(std::FILE* file) {
    std::string content;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    return content;
}

bool wait_for_file(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        if (!read_file(path).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// What someone else may have left at the name before the updater makes its file.
struct in_the_way {
    const char* what;
    // Plants it at path; victim is a file outside that a link may name.
    std::function<void(const std::string& path, const std::string& victim)> plant;
    bool needs_root;
};

const in_the_way PLANTED[] = {
    {"a link to a file of the system",
     [](const std::string& path, const std::string& victim) { fs::create_symlink(victim, path); }, false},
    {"a dangling link",
     [](const std::string& path, const std::string& victim) { fs::create_symlink(victim + ".new", path); }, false},
    {"a file someone else made, open to all",
     [](const std::string& path, const std::string&) {
         write_file(path, "theirs");
         ASSERT_EQ(::chown(path.c_str(), NOBODY, NOBODY), 0);
         ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
     },
     true},
    {"a second link of the system's file",
     [](const std::string& path, const std::string& victim) { fs::create_hard_link(victim, path); }, false},
    {"a FIFO", [](const std::string& path, const std::string&) { ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0); }, false},
};

TEST(own_files, create_new_file_never_takes_a_name_that_is_in_use) {
    for (const in_the_way& c : PLANTED) {
        SCOPED_TRACE(c.what);
        if (c.needs_root && ::geteuid() != 0) continue;
        temp_dir dir;
        const std::string victim = dir.file("victim");
        write_file(victim, "root only");
        const std::string path = dir.file("TamsaUpdate.download_setup.sh");
        c.plant(path, victim);
        std::string error;
        std::FILE* file = platform::create_new_file(path, &error);
        EXPECT_EQ(file, nullptr);
        if (file != nullptr) (void)std::fclose(file);
        EXPECT_EQ(error, "the name is taken");
        EXPECT_EQ(read_file(victim), "root only");
        EXPECT_FALSE(fs::exists(victim + ".new"));
    }
}

TEST(own_files, create_fresh_file_removes_what_is_in_the_way_and_makes_a_file_of_its_own) {
    for (const in_the_way& c : PLANTED) {
        SCOPED_TRACE(c.what);
        if (c.needs_root && ::geteuid() != 0) continue;
        temp_dir dir;
        const std::string victim = dir.file("victim");
        write_file(victim, "root only");
        const std::string path = dir.file("TamsaUpdate.download_setup.sh-0");
        c.plant(path, victim);
        std::string error;
        std::FILE* file = platform::create_fresh_file(path, &error);
        ASSERT_NE(file, nullptr) << error;
        ASSERT_GE(std::fputs("package bytes", file), 0);
        (void)std::fclose(file);
        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_nlink, 1u);
        EXPECT_EQ(info.st_uid, ::geteuid());
        EXPECT_EQ(info.st_mode & 077, 0u) << "no other account may read or write it";
        EXPECT_EQ(read_file(path), "package bytes");
        EXPECT_EQ(read_file(victim), "root only");
        EXPECT_FALSE(fs::exists(victim + ".new"));
    }
    temp_dir dir;
    fs::create_directory(dir.file("folder"));
    std::string error;
    EXPECT_EQ(platform::create_fresh_file(dir.file("folder"), &error), nullptr);
    EXPECT_TRUE(fs::is_directory(dir.file("folder")));
}

TEST(own_files, open_own_file_takes_only_a_plain_single_link_file_of_this_account) {
    struct reopen_case {
        const char* what;
        std::function<void(const std::string& path, const std::string& own)> make;
        bool accepted;
        bool needs_root;
    };
    const reopen_case cases[] = {
        {"our own part file", [](const std::string& path, const std::string&) { write_file(path, "held"); }, true,
         false},
        {"a link to our own file",
         [](const std::string& path, const std::string& own) { fs::create_symlink(own, path); }, false, false},
        {"a second link of our own file",
         [](const std::string& path, const std::string& own) { fs::create_hard_link(own, path); }, false, false},
        {"a file of another account",
         [](const std::string& path, const std::string&) {
             write_file(path, "held");
             ASSERT_EQ(::chown(path.c_str(), NOBODY, NOBODY), 0);
         },
         false, true},
        {"a FIFO (must not hang)",
         [](const std::string& path, const std::string&) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, false, false},
        {"a folder", [](const std::string& path, const std::string&) { fs::create_directory(path); }, false, false},
    };
    for (const reopen_case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needs_root && ::geteuid() != 0) continue;
        temp_dir dir;
        const std::string own = dir.file("own");
        write_file(own, "held");
        const std::string path = dir.file("part-1");
        c.make(path, own);
        std::string error;
        std::FILE* file = platform::open_own_file(path, &error);
        EXPECT_EQ(file != nullptr, c.accepted) << error;
        if (file != nullptr) {
            EXPECT_EQ(read_stream(file), "held");
            (void)std::fclose(file);
        } else {
            EXPECT_FALSE(error.empty());
        }
        EXPECT_EQ(read_file(own), "held");
    }
}

// The digest reads what the writer wrote, even when the name now names another file.
TEST(own_files, reopen_for_reading_reads_the_writers_file_not_its_name) {
    temp_dir dir;
    const std::string path = dir.file("part-0");
    std::FILE* writer = platform::create_new_file(path);
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(std::fwrite("ours", 1, 4, writer), 4u);
    fs::rename(path, dir.file("moved away"));
    write_file(path, "theirs");
    std::FILE* reader = platform::reopen_for_reading(writer);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(read_stream(reader), "ours");
    // Truncated in place, both streams see the same, emptied file.
    EXPECT_TRUE(platform::truncate_file(writer));
    ASSERT_EQ(std::fwrite("new", 1, 3, writer), 3u);
    ASSERT_EQ(std::fseek(reader, 0, SEEK_SET), 0);
    EXPECT_EQ(read_stream(reader), "new");
    (void)std::fclose(reader);
    (void)std::fclose(writer);
    EXPECT_EQ(read_file(path), "theirs");
}

TEST(own_files, free_space_is_the_file_systems_unless_overridden) {
    temp_dir dir;
    const std::optional<std::uint64_t> real = platform::free_space(dir.dir());
    ASSERT_TRUE(real.has_value());
    EXPECT_GT(*real, 0u);
    platform::override_free_space(1234);
    EXPECT_EQ(platform::free_space(dir.dir()), std::optional<std::uint64_t>(1234));
    platform::override_free_space(std::nullopt);
    EXPECT_TRUE(platform::free_space(dir.dir()).has_value());
}

const char INSTALLER[] = "#!/bin/sh\necho \"publisher $0\" > \"$MARKER\"\n";
const char ATTACKER[] = "#!/bin/sh\necho attacker > \"$MARKER\"\n";

platform::held_file held_script(const std::string& path, const char* body) {
    std::FILE* file = platform::create_new_file(path);
    EXPECT_NE(file, nullptr);
    platform::held_file held;
    if (file == nullptr) return held;
    EXPECT_GE(std::fputs(body, file), 0);
    EXPECT_TRUE(held.hold(file, path));
    return held;
}

// Whatever is done to the names between the check and the start, the held
// file is what runs, and nothing else is put in the package's place.
TEST(held_file, starts_and_places_only_the_file_it_holds) {
    struct swap_case {
        const char* what;
        bool swap_before_place;
        bool swap_after_place;
        bool placed;
    };
    const swap_case cases[] = {
        {"nobody interferes", false, false, true},
        {"the download name is swapped before the move", true, false, false},
        {"the package name is swapped after the move", false, true, true},
    };
    for (const swap_case& c : cases) {
        SCOPED_TRACE(c.what);
        temp_dir dir;
        const std::string download = dir.file("TamsaUpdate.download_setup.sh");
        const std::string package = dir.file("setup.sh");
        const std::string marker = dir.file("marker");
        ::setenv("MARKER", marker.c_str(), 1);
        platform::held_file held = held_script(download, INSTALLER);
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(read_file(held.read_path()), INSTALLER);
        const auto swap = [&](const std::string& name) {
            fs::rename(name, dir.file("elsewhere"));
            write_file(name, ATTACKER);
            fs::permissions(name, fs::perms::all);
        };
        if (c.swap_before_place) swap(download);
        EXPECT_EQ(held.place_at(package), c.placed);
        if (!c.placed) {
            EXPECT_FALSE(fs::exists(package)) << "the file that took our name is not put in place";
            continue;
        }
        EXPECT_EQ(read_file(package), INSTALLER);
        if (c.swap_after_place) swap(package);
        EXPECT_GT(held.start("", dir.dir()), 32);
        ASSERT_TRUE(wait_for_file(marker));
        EXPECT_EQ(read_file(marker).rfind("publisher ", 0), 0u) << read_file(marker);
    }
    ::unsetenv("MARKER");
}

// A file that is no longer ours alone (a second link appeared) is not started.
TEST(held_file, refuses_to_start_a_file_with_a_second_link) {
    temp_dir dir;
    const std::string path = dir.file("setup.sh");
    const std::string marker = dir.file("marker");
    ::setenv("MARKER", marker.c_str(), 1);
    platform::held_file held = held_script(path, INSTALLER);
    ASSERT_TRUE(held.valid());
    fs::create_hard_link(path, dir.file("second"));
    EXPECT_LE(held.start("", dir.dir()), 32);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(marker));
    ::unsetenv("MARKER");
}

}  // namespace
