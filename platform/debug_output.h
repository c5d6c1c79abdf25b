// The debugger output: one line on standard error per call, written with a
// single write so that lines of two threads never interleave.
#pragma once

#include <string_view>

namespace platform {

void debug_output(std::string_view text);
void debug_output(std::wstring_view text);

}  // namespace platform
