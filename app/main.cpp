// The program's entry: runs the updater on the command line that the
// platform's entry point hands over, on the system's own display.
#include "app/updater_app.h"
#include "core/run_log.h"
#include "core/text_utils.h"
#include "platform/entry_point.h"
#include "platform/window.h"

int program_main(const std::wstring& command_line) {
    updater_app app;
    // Without a program directory there is no log file; the debug output still has every line.
    const std::string directory = module_dir();
    if (!directory.empty()) app.log_path = directory + "TamsaUpdate.log";
    app.windows_available = platform::select_display(platform::native_display());
    app.run(command_line);
    app.shutdown();
    stop_run_log();
    return 0;
}
