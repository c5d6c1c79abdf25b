// The debugger output on Windows: OutputDebugString, one call per line. The
// wide form goes out as such, so a debugger shows CJK text whatever the
// system's code page.
#include "platform/debug_output.h"

#include <windows.h>

#include <string>

namespace platform {

void debug_output(std::string_view text) {
    // The call takes a zero-terminated text; an embedded zero ends it.
    const std::string line(text.substr(0, text.find('\0')));
    if (line.empty()) return;
    ::OutputDebugStringA(line.c_str());
}

void debug_output(std::wstring_view text) {
    const std::wstring line(text.substr(0, text.find(L'\0')));
    if (line.empty()) return;
    ::OutputDebugStringW(line.c_str());
}

}  // namespace platform
