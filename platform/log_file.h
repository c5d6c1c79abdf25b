// A file a program appends its log to. Opening refuses a symbolic link, a
// junction (any reparse point) and a file with more than one name, so that a
// log in a folder others can write never leads the program's writes elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class log_file {
public:
    log_file() = default;
    ~log_file() { close(); }
    log_file(const log_file&) = delete;
    log_file& operator=(const log_file&) = delete;

    // Opens path for reading and appending, creating it when missing; false
    // when it cannot be opened or is not a plain file of its own.
    bool open(const std::string& path);
    bool is_open() const { return handle_ != -1; }
    // The file's size in bytes; nullopt when it cannot be known.
    std::optional<std::uint64_t> size();
    // Up to length bytes from offset (fewer at the end of the file); empty
    // when nothing can be read. Memory use is bounded by length.
    std::string read_at(std::uint64_t offset, std::size_t length);
    // Replaces the whole content with text.
    bool replace(std::string_view text);
    // Writes text at the end.
    bool append(std::string_view text);
    void close();

private:
    std::intptr_t handle_ = -1;
};

}  // namespace platform
