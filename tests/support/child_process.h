// Test helper: starts a program, reads its output lines, waits for and stops it.
#pragma once

#include <string>
#include <vector>

namespace test_support {

class child_process {
public:
    child_process() = default;
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;
    ~child_process();  // kills and reaps a child that still runs

    // Starts argv[0] with the arguments; standard output becomes a pipe read
    // by read_line, standard error goes to stderr_path (or is inherited).
    bool start(const std::vector<std::string>& argv, const std::string& stderr_path = "",
               const std::string& working_dir = "");
    // Starts program with the arguments after it; standard error is inherited.
    bool start_program(const std::string& program, const std::vector<std::string>& args);
    // One line of standard output without its line feed; empty on time-out or end.
    std::string read_line(int timeout_ms);
    // The rest of standard output up to its end, or what came within timeout_ms.
    std::string read_all(int timeout_ms);
    // True when the child ended within timeout_ms (it is then reaped).
    bool wait_for_exit(int timeout_ms);
    // True while the child has not ended (reaps it when it has).
    bool running();
    // True once the child has ended or never started; never waits.
    bool ended() { return !running(); }
    void kill_now();

    int pid() const { return pid_; }
    bool exited() const { return ended_ && exit_code_ >= 0; }
    int exit_code() const { return exit_code_; }
    int killed_by_signal() const { return signal_; }

private:
    bool reap(bool block);

    int pid_ = -1;
    int stdout_fd_ = -1;
    bool ended_ = false;
    int exit_code_ = -1;
    int signal_ = 0;
    std::string pending_;
};

}  // namespace test_support
