// The debugger output: one line on standard error per call; lines of two
// threads never interleave. It never holds the program up: when standard
// error has no room (a pipe nobody reads) lines are dropped.
#pragma once

#include <string_view>

namespace platform {

void debug_output(std::string_view text);
void debug_output(std::wstring_view text);

}  // namespace platform
