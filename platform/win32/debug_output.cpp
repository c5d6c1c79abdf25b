// The debugger output on Windows: OutputDebugString, one call per line. The
// wide form goes out as such, so a debugger shows CJK text whatever the
// system's code page. When the program has a standard error (started from a
// console or with its output redirected), each line is also written there in
// UTF-8, as the Linux build writes it, so that a developer or a test sees the
// log without a debugger.
#include "platform/debug_output.h"

#include <windows.h>

#include <mutex>
#include <string>

#include "platform/text.h"

namespace platform {
namespace {

std::mutex& output_lock() {
    static std::mutex lock;
    return lock;
}

// One line per call: the lock keeps lines of two threads apart, and a line
// feed is added where the caller's text has none. A program started from
// the desktop has no standard error; then the debugger output is the log.
void mirror_to_standard_error(std::string line) {
    HANDLE error_output = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error_output == nullptr || error_output == INVALID_HANDLE_VALUE) return;
    if (line.back() != '\n') line.push_back('\n');
    std::lock_guard<std::mutex> guard(output_lock());
    const char* data = line.data();
    std::size_t size = line.size();
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(error_output, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return;
        data += written;
        size -= written;
    }
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
