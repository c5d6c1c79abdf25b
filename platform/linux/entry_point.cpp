// The entry point on Linux: the arguments after the program name, joined into
// the one command line that a Windows program receives.
#include "platform/entry_point.h"

#include <string>

#include "platform/text.h"

namespace {

// Joined with single blanks; an argument that holds a blank is quoted, so the
// switch tokenizer sees a Windows command line.
std::string join_arguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
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
    return program_main(platform::utf8_to_wide(join_arguments(argc, argv)));
}
