// The entry point on Linux: the arguments after the program name, joined into
// the one command line that a Windows program receives.
#include "platform/entry_point.h"

#include <string>

#include "platform/text.h"

namespace {

// Joined with single blanks. A switch whose value holds a blank has the value
// quoted after its first '=' or ':' (-prod=Tool 2 becomes -prod="Tool 2", as a
// Windows launcher writes it); any other argument with a blank is quoted whole.
std::string quote_argument(const std::string& argument) {
    if (argument.find(' ') == std::string::npos) return argument;
    const bool is_switch = !argument.empty() && (argument[0] == '-' || argument[0] == '/');
    const std::size_t separator = argument.find_first_of("=:");
    if (is_switch && separator != std::string::npos && argument.find(' ') > separator) {
        return argument.substr(0, separator + 1) + '"' + argument.substr(separator + 1) + '"';
    }
    return '"' + argument + '"';
}

std::string join_arguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line.push_back(' ');
        line += quote_argument(argv[i]);
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    return program_main(platform::utf8_to_wide(join_arguments(argc, argv)));
}
