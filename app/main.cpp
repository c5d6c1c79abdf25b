// The program's entry: runs the updater on the command line that the
// platform's entry point hands over, on the system's own display.
#include "app/updater_app.h"
#include "core/run_log.h"
#include "core/text_utils.h"
#include "platform/entry_point.h"
#include "platform/window.h"

int program_main(const std::wstring& command_line) {
    // Without a program directory there is no log file; the debug output still has every line.
    const std::string directory = module_dir();
    if (!directory.empty()) (void)start_run_log(directory + "TamsaUpdate.log");
    updater_app app;
    app.windows_available = platform::select_display(platform::native_display());
    app.run(command_line);
    app.shutdown();
    stop_run_log();
    return 0;
}
