// The program's entry: joins the arguments into one command line and runs the updater.
#include <string>

#include "app/text_utils.h"
#include "app/updater_app.h"
#include "platform/window.h"

namespace {

// The arguments after the program name, joined with single blanks; one that
// holds a blank is quoted, so the switch tokenizer sees a Windows command line.
std::string join_arguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (i > 1) line.push_back(' ');
        if (argument.find(' ') != std::string::npos) {
            line += '"' + argument + '"';
        } else {
            line += argument;
        }
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    updater_app app;
    app.windows_available = platform::select_display(platform::display_kind::x11);
    app.run(utf8_to_wide(join_arguments(argc, argv)));
    app.shutdown();
    return 0;
}
