// The debugger output on Windows: OutputDebugString, one call per line. The
// wide form goes out as such, so a debugger shows CJK text whatever the
// system's code page. When the program has a standard error (started from a
// console or with its output redirected), each line is also written there in
// UTF-8, as the Linux build writes it, so that a developer or a test sees the
// log without a debugger. A pipe that nobody reads never holds the program
// up: its lines are queued for a writer thread and dropped when it lags.
#include "platform/debug_output.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/text.h"

namespace platform {
namespace {

std::mutex& output_lock() {
    static std::mutex lock;
    return lock;
}

void write_whole(HANDLE output, const std::string& line) {
    const char* data = line.data();
    std::size_t size = line.size();
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(output, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return;
        data += written;
        size -= written;
    }
}

// A pipe that nobody reads would hold up whoever writes to it, so lines for
// a pipe go through a queue that one thread of its own writes out; when the
// reader falls too far behind, lines are dropped instead of waited for.
class pipe_writer {
public:
    explicit pipe_writer(HANDLE output) : output_(output) {
        try {
            std::thread([this] { run(); }).detach();
            running_ = true;
        } catch (const std::exception&) {  // no thread: lines for the pipe are dropped
        }
    }

    void push(std::string line) {
        std::lock_guard<std::mutex> guard(lock_);
        if (!running_ || queued_bytes_ + line.size() > MAX_QUEUED_BYTES) return;
        queued_bytes_ += line.size();
        lines_.push_back(std::move(line));
        wake_.notify_one();
    }

    // At exit: gives the queue a moment to reach a reader that keeps up.
    void drain(std::chrono::milliseconds longest) {
        std::unique_lock<std::mutex> guard(lock_);
        (void)idle_.wait_for(guard, longest, [this] { return lines_.empty() && !writing_; });
    }

private:
    static constexpr std::size_t MAX_QUEUED_BYTES = 256 * 1024;

    void run() {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            wake_.wait(guard, [this] { return !lines_.empty(); });
            std::string line = std::move(lines_.front());
            lines_.pop_front();
            queued_bytes_ -= line.size();
            writing_ = true;
            guard.unlock();
            write_whole(output_, line);
            guard.lock();
            writing_ = false;
            if (lines_.empty()) idle_.notify_all();
        }
    }

    HANDLE output_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::string> lines_;
    std::size_t queued_bytes_ = 0;
    bool writing_ = false;
    bool running_ = false;
};

pipe_writer* standard_error_pipe(HANDLE output) {
    // Lives for the whole process: the writer thread may still be blocked in
    // a write when the process ends.
    static pipe_writer* writer = [output] {
        auto* created = new pipe_writer(output);
        std::atexit([] {
            if (pipe_writer* w = standard_error_pipe(nullptr)) w->drain(std::chrono::milliseconds(500));
        });
        return created;
    }();
    return writer;
}

// One line per call: the lock keeps lines of two threads apart, and a line
// feed is added where the caller's text has none. A program started from
// the desktop has no standard error; then the debugger output is the log.
void mirror_to_standard_error(std::string line) {
    HANDLE error_output = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error_output == nullptr || error_output == INVALID_HANDLE_VALUE) return;
    if (line.back() != '\n') line.push_back('\n');
    if (::GetFileType(error_output) == FILE_TYPE_PIPE) {
        standard_error_pipe(error_output)->push(std::move(line));
        return;
    }
    std::lock_guard<std::mutex> guard(output_lock());
    write_whole(error_output, line);
}

}  // namespace

void debug_output(std::string_view text) {
    // The call takes a zero-terminated text; an embedded zero ends it.
    const std::string line(text.substr(0, text.find('\0')));
    if (line.empty()) return;
    ::OutputDebugStringA(line.c_str());
    mirror_to_standard_error(wide_to_utf8(narrow_to_wide(line)));
}

void debug_output(std::wstring_view text) {
    const std::wstring line(text.substr(0, text.find(L'\0')));
    if (line.empty()) return;
    ::OutputDebugStringW(line.c_str());
    mirror_to_standard_error(wide_to_utf8(line));
}

}  // namespace platform
