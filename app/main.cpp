// The program's entry: runs the updater on the command line that the
// platform's entry point hands over, on the system's own display.
#include "app/updater_app.h"
#include "platform/entry_point.h"
#include "platform/window.h"

int program_main(const std::wstring& command_line) {
    updater_app app;
    app.windows_available = platform::select_display(platform::native_display());
    app.run(command_line);
    app.shutdown();
    return 0;
}
