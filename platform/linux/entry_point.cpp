// The entry point on Linux: the arguments after the program name, joined into
// the one command line that a Windows program receives.
#include "platform/entry_point.h"

#include <signal.h>

#include <string>

#include "platform/text.h"

namespace {

bool is_switch(const std::string& argument) {
    return !argument.empty() && (argument[0] == '-' || argument[0] == '/');
}

// One argument as a launcher on Windows writes it: a switch whose value holds
// a blank gets that value quoted after its first "=" or ":" (-prod="Tool 2"),
// so the tokenizer keeps the value whole; any other argument with a blank is
// quoted whole. A value that brings its own quotes is kept as it is.
std::string quoted_argument(const std::string& argument) {
    if (argument.find(' ') == std::string::npos) return argument;
    const std::size_t separator = argument.find_first_of("=:");
    if (is_switch(argument) && separator != std::string::npos) {
        const std::string value = argument.substr(separator + 1);
        if (!value.empty() && value.front() == '"') return argument;
        return argument.substr(0, separator + 1) + '"' + value + '"';
    }
    return '"' + argument + '"';
}

// The arguments after the program name, joined with single blanks.
std::string join_arguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line.push_back(' ');
        line += quoted_argument(argv[i]);
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of standard error (or of any pipe) that went away must not end
    // the program: writes report EPIPE instead. Started programs get the
    // default back before they run.
    (void)::signal(SIGPIPE, SIG_IGN);
    return program_main(platform::utf8_to_wide(join_arguments(argc, argv)));
}
