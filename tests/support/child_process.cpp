// Test helper: child processes through posix_spawn, with a bounded wait.
#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace test_support {

child_process::~child_process() {
    if (pid_ > 0 && !ended_) {
        kill_now();
        reap(true);
    }
    if (stdout_fd_ >= 0) ::close(stdout_fd_);
}

bool child_process::start(const std::vector<std::string>& argv, const std::string& stderr_path,
                          const std::string& working_dir) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    if (!stderr_path.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    if (!working_dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_dir.c_str());
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (error != 0) {
        ::close(pipe_fds[0]);
        return false;
    }
    pid_ = pid;
    stdout_fd_ = pipe_fds[0];
    return true;
}

bool child_process::start_program(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return start(argv);
}

std::string child_process::read_line(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || stdout_fd_ < 0) return {};
        pollfd ready{stdout_fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return {};
        char buffer[256];
        ssize_t got = ::read(stdout_fd_, buffer, sizeof buffer);
        if (got <= 0) return {};
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string child_process::read_all(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string text;
    text.swap(pending_);
    while (stdout_fd_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd ready{stdout_fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) break;
        char buffer[4096];
        const ssize_t got = ::read(stdout_fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // end of output
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

bool child_process::reap(bool block) {
    if (pid_ <= 0) return false;
    if (ended_) return true;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != pid_) return false;
    ended_ = true;
    if (WIFEXITED(status)) exit_code_ = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
    return true;
}

bool child_process::wait_for_exit(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool child_process::running() {
    return pid_ > 0 && !reap(false);
}

void child_process::kill_now() {
    if (pid_ > 0 && !ended_) ::kill(pid_, SIGKILL);
}

}  // namespace test_support
