// The program's entry, handed over by the platform's own entry point (main on
// Linux, the wide GUI entry point on Windows) with the command line as one
// text without the program's name.
#pragma once

#include <string>

// Defined by the program; its result is the process's exit code.
int program_main(const std::wstring& command_line);
