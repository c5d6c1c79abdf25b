// A stand-in for the product in tests: one X11 window that may obey the quit message.
//   fake_product QUIT_MESSAGE_ID obey|ignore RECORD_FILE [pid]
// With "pid" the window names its process (_NET_WM_PID), as toolkits do.
// Prints the decimal window id on stdout. Writes "message" to the record file
// when the quit message arrives, then exits 0 after 300 ms (obey) or goes on and writes
// "alive" every 100 ms (ignore). Writes "mapped" when its window is shown.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void record(const char* path, const char* line) {
    FILE* file = std::fopen(path, "a");
    if (file == nullptr) return;
    std::fprintf(file, "%s\n", line);
    std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: fake_product QUIT_MESSAGE_ID obey|ignore RECORD_FILE\n");
        return 2;
    }
    const long quit_message_id = static_cast<long>(std::strtoul(argv[1], nullptr, 10));
    const bool obey = std::strcmp(argv[2], "obey") == 0;
    const char* record_path = argv[3];

    // A busy test server may refuse a connection for a moment: try for a while.
    Display* display = nullptr;
    for (int attempt = 0; attempt < 50 && display == nullptr; ++attempt) {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            std::fprintf(stderr, "fake_product: XOpenDisplay failed (errno %d), retrying\n", errno);
            poll(nullptr, 0, 100);
        }
    }
    if (display == nullptr) {
        std::fprintf(stderr, "fake_product: no display\n");
        return 3;
    }
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 10, 10, 200, 100, 0, 0, 0);
    XSelectInput(display, window, StructureNotifyMask);
    if (argc == 5 && std::strcmp(argv[4], "pid") == 0) {
        const long pid = static_cast<long>(getpid());
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
    }
    Atom message_type = XInternAtom(display, "_TAMSA_WINDOW_MESSAGE", False);
    XSync(display, False);
    std::printf("%lu\n", static_cast<unsigned long>(window));
    std::fflush(stdout);

    bool got_message = false;
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify) record(record_path, "mapped");
            if (event.type == ClientMessage && event.xclient.message_type == message_type &&
                event.xclient.data.l[0] == quit_message_id) {
                record(record_path, "message");
                got_message = true;
                if (obey) {
                    // Like a real program it takes a moment to quit, so the
                    // updater still finds its process after posting.
                    poll(nullptr, 0, 300);
                    XCloseDisplay(display);
                    return 0;
                }
            }
        }
        int ready = poll(&connection, 1, 100);
        if (ready == 0 && got_message) record(record_path, "alive");
        if (ready < 0) return 4;
    }
}
