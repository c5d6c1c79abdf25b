// The run log beside the program: lines of each run, the oldest runs dropped
// to stay below the cap, and no writes through a link someone else planted.
#include "core/run_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/text_utils.h"
#include "tests/support/temp_dir.h"

namespace {

using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

std::size_t count_of(const std::string& text, std::string_view part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class run_log_test : public ::testing::Test {
protected:
    void TearDown() override { stop_run_log(); }
    temp_dir dir_;
};

TEST_F(run_log_test, each_run_appends_its_lines_after_a_mark) {
    const std::string path = dir_.file("TamsaUpdate.log");
    ASSERT_TRUE(start_run_log(path));
    debug_log("[TamsaUpdate]: first run %d \n", 1);
    stop_run_log();
    ASSERT_TRUE(start_run_log(path));
    debug_log_w(L"[TamsaUpdate]: second run %d \n", 2);
    debug_log("%s", "");  // nothing to keep
    stop_run_log();
    debug_log("[TamsaUpdate]: after the log was closed \n");

    const std::string log = read_file(path);
    EXPECT_EQ(count_of(log, RUN_LOG_MARK), 2u) << log;
    EXPECT_LT(log.find("first run 1"), log.rfind(RUN_LOG_MARK));
    EXPECT_GT(log.find("second run 2"), log.rfind(RUN_LOG_MARK));
    EXPECT_EQ(log.find("after the log was closed"), std::string::npos);
    // Every line is whole and starts with its time, or is a run's mark.
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "a line without its end";
        const std::string line = log.substr(start, end - start);
        EXPECT_TRUE(line.starts_with(RUN_LOG_MARK) || (line.size() > 24 && line[4] == '-' && line[13] == ':')) << line;
        start = end + 1;
    }
}

TEST_F(run_log_test, a_line_starts_with_the_time_in_utc) {
    const std::string path = dir_.file("TamsaUpdate.log");
    ASSERT_TRUE(start_run_log(path));
    const auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    debug_log("[TamsaUpdate]: a line \n");
    const auto after = std::chrono::system_clock::now();
    stop_run_log();
    const std::string log = read_file(path);
    const std::size_t at = log.find("[TamsaUpdate]: a line");
    ASSERT_NE(at, std::string::npos) << log;
    const std::size_t line_start = log.rfind('\n', at) + 1;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    ASSERT_EQ(std::sscanf(log.c_str() + line_start, "%4d-%2d-%2d %2d:%2d:%2d.%3d ", &year, &month, &day, &hour, &minute,
                          &second, &millis),
              7)
        << log.substr(line_start);
    const std::chrono::sys_days date = std::chrono::year{year} / month / day;
    const auto stamp = date + std::chrono::hours{hour} + std::chrono::minutes{minute} + std::chrono::seconds{second} +
                       std::chrono::milliseconds{millis};
    EXPECT_GE(stamp, before) << log.substr(line_start);
    EXPECT_LE(stamp, after) << log.substr(line_start);
}

TEST_F(run_log_test, oldest_runs_go_so_the_file_stays_below_its_cap) {
    constexpr std::uint64_t CAP = 8192;
    const std::string path = dir_.file("TamsaUpdate.log");
    const std::string filler(100, 'x');
    for (int run = 0; run < 6; ++run) {
        ASSERT_TRUE(start_run_log(path, CAP));
        for (int line = 0; line < 20; ++line) debug_log("run %d line %d %s\n", run, line, filler.c_str());
        stop_run_log();
        const std::string log = read_file(path);
        EXPECT_LT(log.size(), CAP) << "after run " << run;
        // The newest run is always there, whole.
        EXPECT_NE(log.find("run " + std::to_string(run) + " line 19 "), std::string::npos) << "run " << run;
    }
    const std::string log = read_file(path);
    EXPECT_EQ(log.find("run 0 line"), std::string::npos) << "the oldest run was kept";
    EXPECT_TRUE(log.starts_with(RUN_LOG_MARK)) << "a run was cut in its middle";

    // One run that says more than the cap allows stops at a line that says so.
    ASSERT_TRUE(start_run_log(path, CAP));
    for (int line = 0; line < 200; ++line) debug_log("long run line %d %s\n", line, filler.c_str());
    stop_run_log();
    const std::string full = read_file(path);
    EXPECT_LT(full.size(), CAP);
    EXPECT_NE(full.find("log full, later lines of this run are not kept"), std::string::npos);
}

TEST_F(run_log_test, a_log_that_leads_elsewhere_or_cannot_be_made_is_skipped) {
    struct skip_case {
        const char* name;
        void (*plant)(const temp_dir& dir, const std::string& path, const std::string& victim);
    };
    const skip_case cases[] = {
        {"symbolic link to another file",
         [](const temp_dir&, const std::string& path, const std::string& victim) {
             std::filesystem::create_symlink(victim, path);
         }},
        {"dangling symbolic link",
         [](const temp_dir& dir, const std::string& path, const std::string&) {
             std::filesystem::create_symlink(dir.file("not-there"), path);
         }},
        {"hard link to another file",
         [](const temp_dir&, const std::string& path, const std::string& victim) {
             std::filesystem::create_hard_link(victim, path);
         }},
        {"a directory of that name",
         [](const temp_dir&, const std::string& path, const std::string&) { std::filesystem::create_directory(path); }},
        {"a folder that does not exist", [](const temp_dir&, const std::string&, const std::string&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        temp_dir dir;
        const std::string victim = dir.file("victim.txt");
        write_file(victim, "precious\n");
        const bool missing_folder = std::string(c.name) == "a folder that does not exist";
        const std::string path = missing_folder ? dir.file("gone/TamsaUpdate.log") : dir.file("TamsaUpdate.log");
        c.plant(dir, path, victim);
        EXPECT_FALSE(start_run_log(path));
        debug_log("[TamsaUpdate]: a line that must not land anywhere \n");
        stop_run_log();
        EXPECT_EQ(read_file(victim), "precious\n");
        EXPECT_FALSE(std::filesystem::exists(dir.file("not-there")));
    }
}

}  // namespace
