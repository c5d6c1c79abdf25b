// The held package on Windows: from the check until the installer has
// started, nobody can open it for writing, rename it or delete it, and the
// installer still starts.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/files.h"
#include "win32_test_support.h"

namespace {

std::wstring wide(const std::string& path) {
    return std::filesystem::path(path).wstring();
}

// What a second program may still do with a file; all false for a held package.
struct second_opener {
    bool write = false;
    bool rename = false;
    bool remove = false;
    bool replace = false;
};

second_opener try_as_second_opener(const std::string& path, const std::string& elsewhere) {
    second_opener result;
    HANDLE writer =
        ::CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
        result.write = true;
        ::CloseHandle(writer);
    }
    result.rename = ::MoveFileExW(wide(path).c_str(), wide(elsewhere).c_str(), 0) != 0;
    if (result.rename) (void)::MoveFileExW(wide(elsewhere).c_str(), wide(path).c_str(), 0);
    win32_test::write_file(elsewhere, "theirs");
    result.replace = ::MoveFileExW(wide(elsewhere).c_str(), wide(path).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    (void)::DeleteFileW(wide(elsewhere).c_str());
    result.remove = ::DeleteFileW(wide(path).c_str()) != 0;
    return result;
}

std::string read_all(const std::string& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A reader that shares reading, writing and deleting, as the system's loader does.
std::string read_sharing_delete(const std::string& path) {
    HANDLE file =
        ::CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    ::CloseHandle(file);
    return content;
}

TEST(win32_held_file, nobody_writes_renames_or_deletes_the_package_until_it_has_started) {
    win32_test::temp_dir dir;
    const std::string download = dir.file("TamsaUpdate.download_setup.exe");
    const std::string package = dir.file("setup.exe");
    const std::string marker = dir.file("installer_ran");
    const std::string program = read_all(TEST_CHILD_PATH);
    ASSERT_FALSE(program.empty());

    std::FILE* file = platform::create_new_file(download);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(program.data(), 1, program.size(), file), program.size());
    // A second create of the same name fails: the name is never reused.
    EXPECT_EQ(platform::create_new_file(download), nullptr);

    platform::held_file held;
    ASSERT_TRUE(held.hold(file, download));
    const second_opener while_written = try_as_second_opener(download, dir.file("moved.exe"));
    EXPECT_FALSE(while_written.write);
    EXPECT_FALSE(while_written.rename);
    EXPECT_FALSE(while_written.replace);
    EXPECT_FALSE(while_written.remove);

    ASSERT_TRUE(held.place_at(package));
    EXPECT_FALSE(std::filesystem::exists(download));
    const second_opener while_held = try_as_second_opener(package, dir.file("moved.exe"));
    EXPECT_FALSE(while_held.write);
    EXPECT_FALSE(while_held.rename);
    EXPECT_FALSE(while_held.replace);
    EXPECT_FALSE(while_held.remove);
    EXPECT_TRUE(read_sharing_delete(package) == program)
        << "reading as the loader does (sharing deletion) is still allowed, and the bytes are ours";

    EXPECT_GT(held.start("mark " + marker, dir.path()), 32);
    bool ran = false;
    for (int i = 0; i < 1000 && !ran; ++i) {
        ran = read_all(marker) == "ran";
        if (!ran) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ran) << "the installer starts while the package is held";
    held.release();
    for (int i = 0; i < 500 && !::DeleteFileW(wide(package).c_str()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the installer may still be ending
    }
}

}  // namespace
