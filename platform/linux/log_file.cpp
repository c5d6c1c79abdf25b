// The log file on Linux: opened with O_NOFOLLOW, and checked to be a plain
// file with one name.
#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace platform {

namespace {

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

}  // namespace

bool log_file::open(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return false;
    struct stat info {};
    // A fifo or device would block or misbehave; a second name is a hard link someone else made.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        (void)::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

std::optional<std::uint64_t> log_file::size() {
    struct stat info {};
    if (!is_open() || ::fstat(static_cast<int>(handle_), &info) != 0 || info.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

std::string log_file::read_at(std::uint64_t offset, std::size_t length) {
    std::string content;
    if (!is_open() || offset > static_cast<std::uint64_t>(INT64_MAX)) return content;
    const int fd = static_cast<int>(handle_);
    char buffer[16384];
    auto at = static_cast<off_t>(offset);
    while (content.size() < length) {
        const std::size_t want = std::min(sizeof buffer, length - content.size());
        const ssize_t got = ::pread(fd, buffer, want, at);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
    return content;
}

bool log_file::replace(std::string_view text) {
    if (!is_open()) return false;
    const int fd = static_cast<int>(handle_);
    return ::ftruncate(fd, 0) == 0 && write_all(fd, text);
}

bool log_file::append(std::string_view text) {
    return is_open() && write_all(static_cast<int>(handle_), text);
}

void log_file::close() {
    if (is_open()) (void)::close(static_cast<int>(handle_));  // appends are written through; nothing to lose
    handle_ = -1;
}

}  // namespace platform
