// End-to-end tests of the updater program: exit code, log lines and the single-instance marker.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/single_instance.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace fs = std::filesystem;

namespace {

// A local update service that records the query values it was asked with
// and when; it answers with status.
class recording_service {
public:
    explicit recording_service(int status = 200) {
        server_.Get(
            "/soft/update/search", [this, status](const httplib::Request& request, httplib::Response& response) {
                std::lock_guard<std::mutex> guard(lock_);
                times_.push_back(std::chrono::steady_clock::now());
                queries_.push_back(request.get_param_value("channel") + "|" + request.get_param_value("product") + "|" +
                                   request.get_param_value("ver") + "|" + request.get_param_value("type"));
                response.status = status;
                response.set_content("{}", "application/json");
            });
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ > 0) thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~recording_service() {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    int port() const { return port_; }
    std::vector<std::string> queries() {
        std::lock_guard<std::mutex> guard(lock_);
        return queries_;
    }
    std::vector<std::chrono::steady_clock::time_point> times() {
        std::lock_guard<std::mutex> guard(lock_);
        return times_;
    }

private:
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
    std::mutex lock_;
    std::vector<std::string> queries_;
    std::vector<std::chrono::steady_clock::time_point> times_;
};

class program_fixture : public testing::Test {
protected:
    void SetUp() override {
        const std::string unique = std::to_string(std::random_device{}()) + "_" +
                                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        dir_ = fs::temp_directory_path() / ("tamsa_program_" + unique);
        fs::create_directories(dir_);
        program_ = dir_ / "TamsaUpdate";
        fs::copy_file(TAMSA_UPDATE_PATH, program_);
        // A single-instance marker of this test's own, shared with the updaters it starts.
        setenv("TAMSA_INSTANCE_SCOPE", unique.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Runs the updater with argv; returns its standard error, checks it ended with 0.
    std::string run_updater(const std::vector<std::string>& arguments) { return run_program(program_, arguments); }
    // wrapper, when given, starts the program (a limit on its resources).
    std::string run_program(const fs::path& program, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& wrapper = {}) {
        std::vector<std::string> argv = wrapper;
        argv.push_back(program.string());
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const std::string log = (dir_ / "stderr.txt").string();
        test_support::child_process updater;
        EXPECT_TRUE(updater.start(argv, log, dir_.string()));
        EXPECT_TRUE(updater.wait_for_exit(30000)) << "the updater did not end";
        EXPECT_TRUE(updater.exited()) << "killed by signal " << updater.killed_by_signal();
        EXPECT_EQ(updater.exit_code(), 0);
        return test_support::read_file(log);
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
        // A switch's value with a blank is quoted after its first separator, as
        // a Windows launcher writes it, and so stays whole ...
        {{"-prod=p", "-channel=a b", "-ver=1"},
         "[Updater] Params Error: channel => [a b],version => [1],hwnd => [0],quitmsgid => [0]\n"},
        {{"-prod=p", "/channel:a=b c", "-ver=1", "/hwnd:7 x"},
         "[Updater] Params Error: channel => [a=b c],version => [1],hwnd => [7],quitmsgid => [0]\n"},
        // ... and a value that carries its own quotes is kept as it is.
        {{"-prod=p", "-channel=\"a b\"", "-ver=1"},
         "[Updater] Params Error: channel => [a b],version => [1],hwnd => [0],quitmsgid => [0]\n"},
        // Any other argument with a blank is quoted whole and skipped.
        {{"-prod=p", "some words", "-channel=c", "-ver=1"},
         "[Updater] Params Error: channel => [c],version => [1],hwnd => [0],quitmsgid => [0]\n"},
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

// A second updater ends before it opens the log: the first one's log (and
// whatever else is at its place) stays as it is, byte for byte.
TEST_F(program_fixture, a_second_updater_never_touches_the_log) {
    const std::string contents[] = {
        "==== TamsaUpdate run 2026-01-01 00:00:00.000 ====\n2026-01-01 00:00:00.001 [TamsaUpdate]: first\n",
        "not a log of ours\n",
    };
    for (const std::string& content : contents) {
        SCOPED_TRACE(content);
        test_support::write_file((dir_ / "TamsaUpdate.log").string(), content);
        {
            platform::single_instance marker(L"Global\\TAMSA_UPDATER_2018");
            ASSERT_TRUE(marker.held());
            EXPECT_EQ(run_updater({"-channel=beta", "-prod=tamsa", "-ver=4.1", "-hwnd=1", "-quitmsgid=2"}), "");
        }
        EXPECT_EQ(test_support::read_file(dir_ / "TamsaUpdate.log"), content);
        EXPECT_FALSE(fs::exists(dir_ / "TamsaUpdate.log.old"));
    }
}

// A huge file at the log's place (here a sparse one of 3 GiB, no disk used)
// is set aside without being read: the updater, held to 1 GiB of address
// space, still asks the service and ends normally with a fresh log.
TEST_F(program_fixture, a_huge_log_is_set_aside_and_the_update_goes_on) {
    recording_service service;
    ASSERT_GT(service.port(), 0);
    std::ofstream(dir_ / "update.ini") << "[UPDATE]\nhost=127.0.0.1:" << service.port() << "\n";
    constexpr std::uint64_t HUGE_SIZE = 3ull << 30;
    {
        const int fd = ::open((dir_ / "TamsaUpdate.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(HUGE_SIZE)), 0);
        ::close(fd);
    }
    // A sanitizer reserves terabytes of address space for itself: no limit there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const std::vector<std::string> limit;
#else
    const std::vector<std::string> limit{"/usr/bin/prlimit", "--as=1073741824", "--"};
#endif
    const std::string log =
        run_program(program_, {"-channel=beta", "-prod=tamsa", "-ver=4.1", "-hwnd=1", "-quitmsgid=2"}, limit);
    EXPECT_FALSE(service.queries().empty()) << "the update check never ran; log:\n" << log;
    EXPECT_NE(log.find("set aside as TamsaUpdate.log.old"), std::string::npos) << log;
    const std::string run_log = test_support::read_file(dir_ / "TamsaUpdate.log");
    EXPECT_TRUE(run_log.starts_with("==== TamsaUpdate run ")) << run_log.substr(0, 200);
    EXPECT_LT(run_log.size(), 1024u * 1024u);
    EXPECT_NE(run_log.find("GetFileHash Req"), std::string::npos) << run_log;
    EXPECT_EQ(fs::file_size(dir_ / "TamsaUpdate.log.old"), HUGE_SIZE);
}

TEST_F(program_fixture, a_killed_holder_leaves_no_stale_marker) {
    test_support::child_process holder;
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
    recording_service service;
    ASSERT_GT(service.port(), 0);

    std::ofstream(dir_ / "update.ini") << "[UPDATE]\nhost=127.0.0.1:" << service.port() << "\nis_test=7\n";
    std::ofstream(dir_ / "TamsaUpdate.exe_old") << "old";
    fs::create_directories(dir_ / "temp_unpacked" / "inner");
    std::ofstream(dir_ / "keep.txt") << "keep";

    const std::string log = run_updater({"-channel=beta", "-exename=Product.exe", "-prod=tamsa", "-ver=4.1",
                                         "-hwnd=12345", "-quitmsgid=49200", "-url=http://example.invalid/p"});
    const std::vector<std::string> queries = service.queries();

    EXPECT_FALSE(fs::exists(dir_ / "TamsaUpdate.exe_old"));
    EXPECT_FALSE(fs::exists(dir_ / "temp_unpacked"));
    EXPECT_TRUE(fs::exists(dir_ / "keep.txt"));
    EXPECT_TRUE(fs::exists(program_)) << "the program's own file stays";
    EXPECT_NE(log.find("[TamsaUpdate] clear_files Find File Count:"), std::string::npos) << "log:\n" << log;
    ASSERT_FALSE(queries.empty()) << "log:\n" << log;
    EXPECT_EQ(queries[0], "beta|tamsa|4.1|7");
    // The run's lines are also in the log file beside the program.
    const std::string run_log = test_support::read_file(dir_ / "TamsaUpdate.log");
    EXPECT_EQ(run_log.rfind("==== TamsaUpdate run ", 0), 0u) << run_log;
    EXPECT_NE(run_log.find("[TamsaUpdate]: GetFileHash Req http://127.0.0.1:"), std::string::npos) << run_log;
}

// The program's own waits, with their real values: 50 ms after each failed
// attempt of a request, 3000 ms after each failed pass of the query.
TEST_F(program_fixture, a_failing_service_is_asked_four_times_with_the_real_waits) {
    recording_service service(500);
    ASSERT_GT(service.port(), 0);
    std::ofstream(dir_ / "update.ini") << "[UPDATE]\nhost=127.0.0.1:" << service.port() << "\n";
    const std::string log = run_updater({"-channel=beta", "-prod=tamsa", "-ver=4.1", "-hwnd=1", "-quitmsgid=2"});
    const auto ended = std::chrono::steady_clock::now();
    const auto times = service.times();
    ASSERT_EQ(times.size(), 4u) << "two passes of two attempts; log:\n" << log;
    using std::chrono::milliseconds;
    const auto gap = [&](std::size_t i) { return std::chrono::duration_cast<milliseconds>(times[i] - times[i - 1]); };
    EXPECT_GE(gap(1), milliseconds(50)) << "retry wait within the first pass";
    EXPECT_GE(gap(2), milliseconds(50 + 3000)) << "retry wait, then the pass wait";
    EXPECT_GE(gap(3), milliseconds(50)) << "retry wait within the second pass";
    EXPECT_GE(std::chrono::duration_cast<milliseconds>(ended - times[3]), milliseconds(50 + 3000))
        << "the last pass waits too before the run ends";
}

// Values with blanks reach the service whole, in the form a shell passes them.
TEST_F(program_fixture, values_with_blanks_reach_the_query_whole) {
    recording_service service;
    ASSERT_GT(service.port(), 0);
    std::ofstream(dir_ / "update.ini") << "[UPDATE]\nhost=127.0.0.1:" << service.port() << "\n";
    struct case_row {
        std::vector<std::string> arguments;
        std::string query;
    };
    const case_row cases[] = {
        {{"-channel=stable", "-prod=Tool 2", "-ver=1.0"}, "stable|Tool 2|1.0|2"},
        {{"/channel:beta", "/prod:Tool 3 x", "/ver:1.2"}, "beta|Tool 3 x|1.2|2"},
        {{"-channel=beta", "-prod=\"Tool 4\"", "-ver=1.2"}, "beta|Tool 4|1.2|2"},
    };
    for (const case_row& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"-hwnd=12345", "-quitmsgid=49200"});
        const std::string log = run_updater(arguments);
        const std::vector<std::string> queries = service.queries();
        ASSERT_FALSE(queries.empty()) << "log:\n" << log;
        EXPECT_EQ(queries.back(), c.query) << "log:\n" << log;
    }
}

// A program path of 260 bytes or more gives no program directory: the run
// must then leave the working directory alone, neither reading its update.ini
// nor cleaning it, and say so once.
TEST_F(program_fixture, without_a_program_directory_the_working_directory_is_left_alone) {
    recording_service service;
    ASSERT_GT(service.port(), 0);
    const fs::path deep = dir_ / std::string(120, 'd') / std::string(120, 'e');
    fs::create_directories(deep);
    const fs::path program = deep / "TamsaUpdate";
    fs::copy_file(TAMSA_UPDATE_PATH, program);
    ASSERT_GE(program.string().size(), 260u);
    std::ofstream(dir_ / "update.ini") << "[UPDATE]\nhost=127.0.0.1:" << service.port() << "\n";
    std::ofstream(dir_ / "TamsaUpdate.exe_old") << "old";
    fs::create_directories(dir_ / "temp_unpacked");

    const std::string log = run_program(program, {"-channel=beta", "-exename=Product.exe", "-prod=tamsa", "-ver=4.1",
                                                  "-hwnd=12345", "-quitmsgid=49200"});

    EXPECT_TRUE(service.queries().empty()) << "the working directory's update.ini was used; log:\n" << log;
    EXPECT_TRUE(fs::exists(dir_ / "TamsaUpdate.exe_old")) << log;
    EXPECT_TRUE(fs::exists(dir_ / "temp_unpacked")) << log;
    const auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("module_dir path longer"), 1u) << log;
    EXPECT_EQ(count("GetFileHash no program directory"), 1u) << log;
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

// Standard error that nobody reads must neither hold the updater up nor end
// it: a pipe whose reader went away, and a full pipe whose reader never reads.
TEST_F(program_fixture, standard_error_without_a_reader_neither_blocks_nor_kills_the_updater) {
    enum class reader { gone, never_reads };
    const struct {
        const char* what;
        reader kind;
    } cases[] = {{"reader gone", reader::gone}, {"full pipe, reader never reads", reader::never_reads}};
    for (const auto& c : cases) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        if (c.kind == reader::gone) {
            ::close(fds[0]);
            fds[0] = -1;
        } else {
            // Fill the pipe so that the next write would wait for the reader.
            ASSERT_EQ(::fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
            const std::string block(4096, 'x');
            while (::write(fds[1], block.data(), block.size()) > 0) {
            }
            ASSERT_EQ(::fcntl(fds[1], F_SETFL, 0), 0);
        }
        const std::string program = program_.string();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(fds[1], STDERR_FILENO);
            const int null_fd = ::open("/dev/null", O_WRONLY);
            ::dup2(null_fd, STDOUT_FILENO);
            // No command line: the updater logs one line and ends.
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        int status = 0;
        bool ended = false;
        for (int waited = 0; waited < 30000 && !ended; waited += 10) {
            ended = ::waitpid(child, &status, WNOHANG) == child;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        if (fds[0] >= 0) ::close(fds[0]);
        EXPECT_TRUE(ended) << c.what << ": the updater hangs on its standard error";
        EXPECT_TRUE(WIFEXITED(status)) << c.what << ": ended by signal "
                                       << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << c.what;
    }
}

}  // namespace
