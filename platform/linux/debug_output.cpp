// The debugger output on Linux: each call becomes one line on standard error.
#include "platform/debug_output.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "platform/text.h"

namespace platform {
namespace {

// Serialises the writes of this process: one write of a long line into a pipe
// is not atomic, and a partial write must be finished before another line starts.
std::mutex& output_lock() {
    static std::mutex lock;
    return lock;
}

void write_all(const char* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(output_lock());
    while (size > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // nowhere to report a failing standard error; the line is dropped
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

}  // namespace

void debug_output(std::string_view text) {
    // The debugger output takes a zero-terminated text.
    text = text.substr(0, text.find('\0'));
    if (text.empty()) return;
    std::string line(text);
    if (line.back() != '\n') line.push_back('\n');
    write_all(line.data(), line.size());
}

void debug_output(std::wstring_view text) {
    debug_output(wide_to_utf8(text));
}

}  // namespace platform
