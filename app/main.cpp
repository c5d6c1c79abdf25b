// The program's entry: runs the updater on the command line that the
// platform's entry point hands over.
#include "app/updater_app.h"
#include "platform/entry_point.h"

int program_main(const std::wstring& command_line) {
    updater_app app;
    app.run(command_line);
    app.shutdown();
    return 0;
}
