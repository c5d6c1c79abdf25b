// Disables another program's window as a modal window of ours does, then
// ends on one of the paths that skip the modal loop's own enabling:
//   x11_exit_probe exit WINDOW   ends with exit(1), as a skin that cannot be
//                                built does
//   x11_exit_probe lost WINDOW   reads events until the X server closes its
//                                connection (xkill, or the server ending)
// Prints "ready ID" (a window of its own, for the client to be killed by)
// once the window is disabled.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/message_queue.h"
#include "platform/window.h"

namespace {

class quiet_handler final : public platform::message_handler {
public:
    platform::lresult handle_message(platform::window_handle, std::uint32_t, platform::wparam,
                                     platform::lparam) override {
        return 0;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::signal(SIGPIPE, SIG_IGN);  // as the program does: a closed connection is an error, not a signal
    const std::string mode = argv[1];
    const platform::window_handle product = std::strtoul(argv[2], nullptr, 10);
    if (!platform::select_display(platform::display_kind::x11)) return 3;
    quiet_handler handler;
    platform::window_params params;
    params.class_name = L"ExitProbeWnd";
    params.bounds = {0, 0, 50, 50};
    const platform::window_handle own = platform::create_window(params, &handler);
    if (own == 0) return 4;
    platform::enable_window(product, false);
    std::printf("ready %lu\n", static_cast<unsigned long>(own));
    std::fflush(stdout);
    if (mode == "exit") std::exit(1);
    platform::message msg;
    while (platform::get_message(msg)) platform::dispatch_message(msg);
    return 0;
}
