// Appending one open file to another on Windows, through a fixed buffer.
#include <cstdio>

#include "platform/files.h"

namespace platform {

std::int64_t append_file(std::FILE* target, std::FILE* source) {
    if (target == nullptr || source == nullptr || std::fflush(source) != 0 || std::fflush(target) != 0) {
        return -1;
    }
    if (std::fseek(source, 0, SEEK_SET) != 0 || std::fseek(target, 0, SEEK_END) != 0) return -1;
    static constexpr std::size_t BLOCK = 64 * 1024;
    char buffer[BLOCK];
    std::int64_t copied = 0;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, BLOCK, source);
        if (got > 0 && std::fwrite(buffer, 1, got, target) != got) return -1;
        copied += static_cast<std::int64_t>(got);
        if (got < BLOCK) break;
    }
    if (std::ferror(source) || std::fflush(target) != 0) return -1;
    return copied;
}

}  // namespace platform
