// Test helper: a fresh temporary directory per test, removed with everything in it.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#include "tests/support/files.h"

namespace test_support {

// A name no other test or parallel test process uses.
inline std::string random_token() {
    std::random_device random;
    return std::to_string(random()) + std::to_string(random());
}

class temp_dir {
public:
    temp_dir() {
        const auto base = std::filesystem::temp_directory_path();
        for (int i = 0; i < 100 && path_.empty(); ++i) {
            auto candidate = base / ("tamsa_test_" + random_token());
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
        }
    }
    ~temp_dir() {
        std::error_code error;
        if (!path_.empty()) std::filesystem::remove_all(path_, error);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The directory with a trailing separator, as module_dir gives it.
    std::string dir() const { return path_.string() + "/"; }
    std::wstring wide() const { return path_.wstring() + L"/"; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // Writes content to the file name in the directory; returns its path.
    std::string write(const std::string& name, const std::string& content) const {
        write_file(file(name), content);
        return file(name);
    }

private:
    std::filesystem::path path_;
};

}  // namespace test_support
