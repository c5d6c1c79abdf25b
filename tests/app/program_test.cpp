// End-to-end tests of the updater program: exit code, log lines and the single-instance marker.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/single_instance.h"
#include "tests/app/child_process.h"

namespace fs = std::filesystem;

namespace {

class program_fixture : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tamsa_program_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
        program_ = dir_ / "TamsaUpdate";
        fs::copy_file(TAMSA_UPDATE_PATH, program_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Runs the updater with argv; returns its standard error, checks it ended with 0.
    std::string run_updater(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{program_.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const std::string log = (dir_ / "stderr.txt").string();
        child_process updater;
        EXPECT_TRUE(updater.start(argv, log, dir_.string()));
        EXPECT_TRUE(updater.wait_for_exit(30000)) << "the updater did not end";
        EXPECT_TRUE(updater.exited()) << "killed by signal " << updater.killed_by_signal();
        EXPECT_EQ(updater.exit_code(), 0);
        return read_text_file(log);
    }

    fs::path dir_;
    fs::path program_;
};

struct program_case {
    std::vector<std::string> arguments;
    std::string log;
};

TEST_F(program_fixture, rejects_bad_command_lines_with_one_log_line_and_exit_code_0) {
    const program_case cases[] = {
        {{}, "TamsaUpdater: Product Name Empty \n"},
        {{"-channel=c", "-ver=1", "-hwnd=5", "-quitmsgid=5"}, "TamsaUpdater: Product Name Empty \n"},
        {{"-prod=p", "-channel=c", "-ver=1", "-quitmsgid=5"},
         "[Updater] Params Error: channel => [c],version => [1],hwnd => [0],quitmsgid => [5]\n"},
        // An argument with a blank is quoted as a whole, so its value ends at the blank ...
        {{"-prod=p", "-channel=a b", "-ver=1"},
         "[Updater] Params Error: channel => [a],version => [1],hwnd => [0],quitmsgid => [0]\n"},
        // ... unless the value carries its own quotes, as the product writes them.
        {{"-prod=p", "-channel=\"a b\"", "-ver=1"},
         "[Updater] Params Error: channel => [a b],version => [1],hwnd => [0],quitmsgid => [0]\n"},
        {{"/PROD:p", "/Channel:\xE4\xB8\x8A", "/ver", "412", "/hwnd:1", "/quitmsgid:-1"},
         "[Updater] Params Error: channel => [\xE4\xB8\x8A],version => [],hwnd => [1],quitmsgid => [-1]\n"},
    };
    for (const program_case& c : cases) {
        std::string joined;
        for (const std::string& argument : c.arguments) joined += "[" + argument + "] ";
        EXPECT_EQ(run_updater(c.arguments), c.log) << "arguments " << joined;
    }
}

TEST_F(program_fixture, a_second_updater_ends_at_once_while_the_marker_is_held) {
    {
        platform::single_instance marker(L"Global\\TAMSA_UPDATER_2018");
        ASSERT_TRUE(marker.held()) << "another updater runs on this machine";
        EXPECT_EQ(run_updater({}), "") << "the second updater must end before reading its command line";
    }
    EXPECT_EQ(run_updater({}), "TamsaUpdater: Product Name Empty \n") << "the marker is free again";
}

TEST_F(program_fixture, a_killed_holder_leaves_no_stale_marker) {
    child_process holder;
    ASSERT_TRUE(holder.start({MARKER_HOLDER_PATH}));
    ASSERT_EQ(holder.read_line(10000), "held");
    EXPECT_EQ(run_updater({}), "");
    holder.kill_now();
    ASSERT_TRUE(holder.wait_for_exit(10000));
    EXPECT_EQ(run_updater({}), "TamsaUpdater: Product Name Empty \n");
}

// A valid command line runs as far as the update check: the leftovers beside
// the program are removed first, then the service is asked with the launch
// parameters; an answer without an update ends the run quietly.
TEST_F(program_fixture, asks_the_service_after_cleaning_up_and_ends_when_no_update_is_due) {
    httplib::Server service;
    std::mutex lock;
    std::vector<std::string> queries;
    service.Get("/soft/update/search", [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard<std::mutex> guard(lock);
        queries.push_back(request.get_param_value("channel") + "|" + request.get_param_value("product") + "|" +
                          request.get_param_value("ver") + "|" + request.get_param_value("type"));
        response.set_content("{}", "application/json");
    });
    const int port = service.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread server_thread([&] { service.listen_after_bind(); });

    std::ofstream(dir_ / "update.ini") << "[UPDATE]\nhost=127.0.0.1:" << port << "\nis_test=7\n";
    std::ofstream(dir_ / "TamsaUpdate.exe_old") << "old";
    fs::create_directories(dir_ / "temp_unpacked" / "inner");
    std::ofstream(dir_ / "keep.txt") << "keep";

    const std::string log = run_updater({"-channel=beta", "-exename=Product.exe", "-prod=tamsa", "-ver=4.1",
                                         "-hwnd=12345", "-quitmsgid=49200", "-url=http://example.invalid/p"});
    service.stop();
    server_thread.join();

    EXPECT_FALSE(fs::exists(dir_ / "TamsaUpdate.exe_old"));
    EXPECT_FALSE(fs::exists(dir_ / "temp_unpacked"));
    EXPECT_TRUE(fs::exists(dir_ / "keep.txt"));
    EXPECT_TRUE(fs::exists(program_)) << "the program's own file stays";
    EXPECT_NE(log.find("[TamsaUpdate] clear_files Find File Count:"), std::string::npos) << "log:\n" << log;
    ASSERT_FALSE(queries.empty()) << "log:\n" << log;
    EXPECT_EQ(queries[0], "beta|tamsa|4.1|7");
}

// An update is due but no display can show the windows (here: none named
// at all): one log line, no download, no install, exit code 0, no hang.
TEST_F(program_fixture, an_update_due_without_a_display_ends_after_the_check_with_one_line) {
    httplib::Server service;
    std::mutex lock;
    std::vector<std::string> paths;
    int port = 0;
    service.Get(R"(/.*)", [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard<std::mutex> guard(lock);
        paths.push_back(request.path);
        response.set_content(R"({"code":0,"data":{"version":"5.0","blockurl":[{"url":"http://127.0.0.1:)" +
                                 std::to_string(port) + R"(/pkg/setup.bin","ver_range":"4.1-5.0"}]}})",
                             "application/json");
    });
    port = service.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread server_thread([&] { service.listen_after_bind(); });
    std::ofstream(dir_ / "update.ini") << "[UPDATE]\nhost=127.0.0.1:" << port << "\n";

    const char* display = std::getenv("DISPLAY");
    const std::string saved_display = display != nullptr ? display : "";
    unsetenv("DISPLAY");
    const std::string log =
        run_updater({"-channel=beta", "-prod=tamsa", "-ver=4.1", "-hwnd=12345", "-quitmsgid=49200"});
    if (display != nullptr) setenv("DISPLAY", saved_display.c_str(), 1);
    service.stop();
    server_thread.join();

    EXPECT_NE(log.find("[TamsaUpdate]: no display for the update windows; the update is not shown \n"),
              std::string::npos)
        << "log:\n"
        << log;
    EXPECT_EQ(paths, (std::vector<std::string>{"/soft/update/search"})) << "nothing is downloaded";
    EXPECT_FALSE(fs::exists(dir_ / "setup.bin"));
}

}  // namespace
