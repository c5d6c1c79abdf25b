// The debugger output on Linux: each call becomes one line on standard error.
// Standard error may be a pipe that nobody reads (or a reader that went
// away); the output never holds the program up for it: lines that find no
// room are dropped.
#include "platform/debug_output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "platform/text.h"

namespace platform {
namespace {

// How long a line may wait for room while the reader keeps up; once a wait
// runs out, lines are dropped without waiting until the reader takes again.
constexpr int ROOM_WAIT_MS = 100;

struct output_state {
    std::mutex lock;
    bool stalled = false;    // the last wait for room ran out
    bool line_open = false;  // a line was cut part-way; the next one starts on a line of its own
};

output_state& state() {
    static output_state shared;
    return shared;
}

// Waits for room in standard error: at most ROOM_WAIT_MS, not at all while stalled.
bool room_for_more(output_state& out) {
    pollfd entry{STDERR_FILENO, POLLOUT, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, out.stalled ? 0 : ROOM_WAIT_MS);
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && (entry.revents & POLLOUT) != 0) {
            out.stalled = false;
            return true;
        }
        // Full, gone (POLLERR/POLLHUP) or not pollable: drop.
        out.stalled = true;
        return false;
    }
}

// Writes while there is room; a pipe takes up to its atomic size at once
// when poll reports room, so no write below blocks for long.
bool write_some(output_state& out, const char* data, std::size_t size) {
    while (size > 0) {
        if (!room_for_more(out)) return false;
        const ssize_t written = ::write(STDERR_FILENO, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;  // EPIPE and the like: nowhere to report it, the line is dropped
        data += written;
        size -= static_cast<std::size_t>(written);
        out.line_open = size > 0;
    }
    return true;
}

void write_line(const std::string& line) {
    output_state& out = state();
    // One line at a time: a partial write must be finished before another line starts.
    std::lock_guard<std::mutex> guard(out.lock);
    if (out.line_open) {
        if (!write_some(out, "\n", 1)) return;
        out.line_open = false;
    }
    (void)write_some(out, line.data(), line.size());
}

}  // namespace

void debug_output(std::string_view text) {
    // The debugger output takes a zero-terminated text.
    text = text.substr(0, text.find('\0'));
    if (text.empty()) return;
    std::string line(text);
    if (line.back() != '\n') line.push_back('\n');
    write_line(line);
}

void debug_output(std::wstring_view text) {
    debug_output(wide_to_utf8(text));
}

}  // namespace platform
