// Test helper: captures standard error (the debug log) into a file while it
// lives, then restores it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

class stderr_capture {
public:
    explicit stderr_capture(const std::string& path) : path_(path) {
        std::fflush(stderr);
        saved_fd_ = ::dup(2);
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        if (file != nullptr && saved_fd_ >= 0) {
            active_ = ::dup2(::fileno(file), 2) >= 0;
        }
        if (file != nullptr) std::fclose(file);
    }
    ~stderr_capture() { restore(); }
    stderr_capture(const stderr_capture&) = delete;
    stderr_capture& operator=(const stderr_capture&) = delete;

    bool active() const { return active_; }

    // Everything logged so far.
    std::string text() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }

    void restore() {
        if (saved_fd_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_fd_, 2);
        ::close(saved_fd_);
        saved_fd_ = -1;
    }

private:
    std::string path_;
    int saved_fd_ = -1;
    bool active_ = false;
};

}  // namespace test_support
