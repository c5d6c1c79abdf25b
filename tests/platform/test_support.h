// Helpers of the platform tests: temporary directories, child processes and
// bounded waiting for something to happen.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace test_support {

// A fresh directory, removed with its contents at the end of the test.
class temp_dir {
public:
    temp_dir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tamsa-platform-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~temp_dir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls the condition every 10 ms for at most limit; true once it holds.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A child process with its standard output on a pipe; killed and reaped at
// the end of the test if still there.
class child_process {
public:
    child_process(const std::string& path, const std::vector<std::string>& args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> all{path};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_fd_ = out[0];
    }
    ~child_process() {
        kill();
        reap();
        if (out_fd_ >= 0) ::close(out_fd_);
    }
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }

    // One line of the child's standard output (without its line feed).
    std::string read_line() {
        std::string line;
        char c = 0;
        while (::read(out_fd_, &c, 1) == 1 && c != '\n') line.push_back(c);
        return line;
    }
    // The rest of the child's standard output, up to its end.
    std::string read_all() {
        std::string text;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                return text;
            }
        }
    }
    void kill() {
        if (pid_ > 0 && !reaped_) ::kill(pid_, SIGKILL);
    }
    // True once the child has ended (it is then reaped); never waits.
    bool ended() {
        if (pid_ <= 0 || reaped_) return true;
        if (::waitpid(pid_, &status_, WNOHANG) != pid_) return false;
        reaped_ = true;
        return true;
    }
    // Waits for the child's end; its wait status.
    int reap() {
        if (pid_ <= 0 || reaped_) return status_;
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return status_;
    }

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int status_ = 0;
    bool reaped_ = false;
};

}  // namespace test_support
