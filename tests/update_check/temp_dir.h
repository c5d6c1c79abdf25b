// A fresh temporary directory per test, removed with everything in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace test_support {

class temp_dir {
public:
    temp_dir() {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (int i = 0; i < 100 && path_.empty(); ++i) {
            auto candidate = base / ("tamsa_update_check_" + std::to_string(random()) + std::to_string(random()));
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
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // Writes content to the file name in the directory; returns its path.
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
        out << content;
        return file(name);
    }

private:
    std::filesystem::path path_;
};

}  // namespace test_support
