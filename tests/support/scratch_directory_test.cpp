// Linked into every test program that writes beside itself or can reach the
// leftover cleanup: such a program must run from a folder of its own, never
// from the build tree, where the cleanup would delete the build's files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/text_utils.h"

namespace {

namespace fs = std::filesystem;

TEST(scratch_directory, the_program_runs_apart_from_the_build_tree) {
    const std::string dir = module_dir();
    ASSERT_FALSE(dir.empty());
    std::error_code error;
    EXPECT_FALSE(fs::equivalent(fs::path(dir), fs::path(TAMSA_BUILD_ROOT), error)) << dir;
    for (const char* build_file : {"CMakeCache.txt", "CMakeFiles", "build.ninja", "Makefile"}) {
        EXPECT_FALSE(fs::exists(fs::path(dir) / build_file)) << dir << " holds " << build_file;
    }
}

}  // namespace
