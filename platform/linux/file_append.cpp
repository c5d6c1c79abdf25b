// Appending one open file to another, inside the kernel where possible.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace platform {

namespace {

// The portable way when the kernel cannot copy between these two files.
std::int64_t append_by_reading(int target, int source, off_t from, off_t size) {
    static constexpr std::size_t BLOCK = 64 * 1024;
    char buffer[BLOCK];
    std::int64_t copied = 0;
    while (from < size) {
        ssize_t got = ::pread(source, buffer, BLOCK, from);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return -1;
        for (ssize_t put = 0; put < got;) {
            ssize_t n = ::write(target, buffer + put, static_cast<std::size_t>(got - put));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return -1;
            put += n;
        }
        from += got;
        copied += got;
    }
    return copied;
}

}  // namespace

std::int64_t append_file(std::FILE* target, std::FILE* source) {
    if (target == nullptr || source == nullptr || std::fflush(source) != 0 || std::fflush(target) != 0) {
        return -1;
    }
    const int in = ::fileno(source);
    const int out = ::fileno(target);
    struct stat info {};
    if (in < 0 || out < 0 || ::fstat(in, &info) != 0 || ::lseek(out, 0, SEEK_END) < 0) {
        return -1;
    }
    const off_t size = info.st_size;
    off_t from = 0;
    while (from < size) {
        ssize_t n = ::copy_file_range(in, &from, out, nullptr, static_cast<std::size_t>(size - from), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            std::int64_t rest = append_by_reading(out, in, from, size);
            return rest < 0 ? -1 : from + rest;
        }
        if (n <= 0) return -1;
    }
    return from;
}

}  // namespace platform
