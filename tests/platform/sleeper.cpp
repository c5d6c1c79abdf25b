// Helper process for the platform tests.
//   sleeper sleep <ms>   sleeps, then exits with 0
//   sleeper forever      ignores SIGTERM and SIGINT and sleeps until killed
//   sleeper hold <name>  takes the single-instance marker, prints the result
//                        code on standard output, then sleeps until killed
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/single_instance.h"
#include "platform/text.h"

namespace {

[[noreturn]] void sleep_forever() {
    for (;;) platform::sleep_ms(1000);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        platform::sleep_ms(static_cast<unsigned>(std::atoi(argv[2])));
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "forever") == 0) {
        std::signal(SIGTERM, SIG_IGN);
        std::signal(SIGINT, SIG_IGN);
        std::puts("ready");
        std::fflush(stdout);
        sleep_forever();
    }
    if (argc >= 3 && std::strcmp(argv[1], "hold") == 0) {
        platform::single_instance marker(platform::utf8_to_wide(argv[2]));
        std::printf("%d\n", static_cast<int>(marker.create_result()));
        std::fflush(stdout);
        sleep_forever();
    }
    std::fprintf(stderr, "usage: sleeper sleep <ms> | forever | hold <name>\n");
    return 2;
}
