// The entry point on Windows: the wide GUI entry point, whose command line
// comes raw, without the program's name.
#include "platform/entry_point.h"

#include <windows.h>

extern "C" int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
    return program_main(command_line != nullptr ? std::wstring(command_line) : std::wstring());
}
