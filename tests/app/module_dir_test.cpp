// Tests of the program directory for programs started from short and overlong paths.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace fs = std::filesystem;

namespace {

std::string probe_from(const fs::path& dir) {
    fs::create_directories(dir);
    fs::path program = dir / "probe";
    fs::copy_file(MODULE_DIR_PROBE_PATH, program, fs::copy_options::overwrite_existing);
    test_support::child_process probe;
    EXPECT_TRUE(probe.start({program.string()}, "/dev/null"));
    std::string line = probe.read_line(10000);
    EXPECT_TRUE(probe.wait_for_exit(10000));
    return line;
}

TEST(module_dir, of_a_program_in_a_short_and_in_an_overlong_directory) {
    fs::path root = fs::temp_directory_path() /
                    ("tamsa_module_dir_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::path shallow = root / "short dir";
    EXPECT_EQ(probe_from(shallow), "[" + shallow.string() + "/]");

    // Just fits: the full path of the program is 259 bytes.
    fs::path fitting = root;
    while (fitting.string().size() + 1 + 100 < 259 - 6) fitting /= std::string(100, 'a');
    fitting /= std::string(259 - 6 - fitting.string().size() - 1, 'b');
    ASSERT_EQ((fitting / "probe").string().size(), 259u);
    EXPECT_EQ(probe_from(fitting), "[" + fitting.string() + "/]");

    // One byte more would be cut inside a directory name, which would name
    // an ancestor directory: no program directory at all instead.
    fs::path overlong = root / std::string(120, 'c') / std::string(120, 'd') / std::string(120, 'e');
    EXPECT_EQ(probe_from(overlong), "[]");

    std::error_code ignored;
    fs::remove_all(root, ignored);
}

}  // namespace
