// sample_product on X11: plays the product that starts TamsaUpdate, the way
// a product team integrates it. It opens its own window, starts the updater
// with its window id and private quit message, honours the quit message,
// greys its window and ignores input while the updater has it disabled
// (WM_ENABLE), and writes every client message it receives as one line to
// a record file. Options: sample_product_common.h.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "sample_product_common.h"

extern char** environ;

namespace {

using sample_product::options;

constexpr long WM_ENABLE = 0x000A;

std::string self_path() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

// Path components end at '/' here.
const std::string SEPARATORS = "/";

class product {
public:
    explicit product(options opts) : opts_(std::move(opts)), record_(opts_.record) {}
    product(const product&) = delete;
    product& operator=(const product&) = delete;
    // Leaves the display as it found it (and leak checkers quiet) on every way out.
    ~product() {
        if (display_ == nullptr) return;
        if (gc_ != nullptr) XFreeGC(display_, gc_);
        if (window_ != 0) XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }

    int run() {
        if (opts_.window && !open_window()) return 1;
        if (opts_.start_updater && !start_updater()) record("updater not started");
        return opts_.window ? loop() : wait_for_updater();
    }

private:
    bool open_window() {
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr) {
            std::fprintf(stderr, "sample_product: no X display\n");
            return false;
        }
        const int screen = DefaultScreen(display_);
        window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 100, 100, 480, 240, 1,
                                      BlackPixel(display_, screen), WhitePixel(display_, screen));
        XSelectInput(display_, window_, ExposureMask | KeyPressMask | ButtonPressMask | StructureNotifyMask);
        wm_protocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
        wm_delete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        private_message_ = XInternAtom(display_, "_TAMSA_WINDOW_MESSAGE", False);
        XSetWMProtocols(display_, window_, &wm_delete_, 1);
        const std::string title = "Sample product " + opts_.version;
        XStoreName(display_, window_, title.c_str());
        gc_ = XCreateGC(display_, window_, 0, nullptr);
        XMapWindow(display_, window_);
        XSync(display_, False);
        std::printf("window %lu\n", static_cast<unsigned long>(window_));
        std::fflush(stdout);
        return true;
    }

    std::vector<std::string> updater_arguments() const {
        const std::string self = self_path();
        const std::string updater =
            opts_.updater.empty() ? sample_product::dir_of(self, SEPARATORS) + "/TamsaUpdate" : opts_.updater;
        return sample_product::updater_arguments(opts_, updater, std::to_string(window_),
                                                 sample_product::base_of(self, SEPARATORS));
    }

    bool start_updater() {
        std::vector<std::string> args = updater_arguments();
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&updater_pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            updater_pid_ = -1;
            return false;
        }
        record("updater started " + std::to_string(updater_pid_));
        return true;
    }

    // Notes the updater's end (and reaps it) without waiting.
    void check_updater(int flags) {
        if (updater_pid_ <= 0) return;
        int status = 0;
        const pid_t done = ::waitpid(updater_pid_, &status, flags);
        if (done != updater_pid_) return;
        updater_pid_ = -1;
        record("updater exited " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)));
    }

    int wait_for_updater() {
        check_updater(0);
        return 0;
    }

    void record(const std::string& line) {
        record_.add(line);
        if (display_ != nullptr) draw();
    }

    void draw() {
        const int screen = DefaultScreen(display_);
        // Greyed while the updater has the window disabled.
        XSetWindowBackground(display_, window_, enabled_ ? WhitePixel(display_, screen) : 0xA0A0A0);
        XClearWindow(display_, window_);
        XSetForeground(display_, gc_, BlackPixel(display_, screen));
        std::vector<std::string> text{"Sample product " + opts_.version,
                                      enabled_ ? "enabled" : "disabled by the updater", ""};
        text.insert(text.end(), record_.recent().begin(), record_.recent().end());
        int y = 20;
        for (const std::string& line : text) {
            XDrawString(display_, window_, gc_, 12, y, line.c_str(), static_cast<int>(line.size()));
            y += 16;
        }
        XFlush(display_);
    }

    std::string atom_name(Atom atom) {
        char* name = XGetAtomName(display_, atom);
        std::string text = name ? name : "?";
        if (name) XFree(name);
        return text;
    }

    // Returns false when the product is to end.
    bool on_client_message(const XClientMessageEvent& event) {
        const std::string type = atom_name(event.message_type);
        record(sample_product::message_line(type, event.data.l[0], event.data.l[1], event.data.l[2]));
        if (event.message_type == wm_protocols_ && static_cast<Atom>(event.data.l[0]) == wm_delete_) return false;
        if (event.message_type != private_message_) return true;
        if (event.data.l[0] == WM_ENABLE) {
            enabled_ = event.data.l[1] != 0;
            draw();
            return true;
        }
        if (event.data.l[0] == opts_.quit_id) {
            if (!opts_.ignore_quit) {
                record("quit");
                return false;
            }
            // The receipt time (CLOCK_MONOTONIC, ms) lets a test measure how
            // long the updater waits before it terminates the product.
            timespec now{};
            (void)clock_gettime(CLOCK_MONOTONIC, &now);
            record("quit ignored at " + std::to_string(now.tv_sec * 1000LL + now.tv_nsec / 1000000));
        }
        return true;
    }

    int loop() {
        for (;;) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == Expose && event.xexpose.count == 0) draw();
                if (event.type == KeyPress || event.type == ButtonPress) {
                    record(enabled_ ? "input accepted" : "input ignored");
                }
                if (event.type == ClientMessage && !on_client_message(event.xclient)) return 0;
            }
            check_updater(WNOHANG);
            pollfd entry{ConnectionNumber(display_), POLLIN, 0};
            if (::poll(&entry, 1, 100) < 0 && errno != EINTR) return 1;
        }
    }

    options opts_;
    Display* display_ = nullptr;
    Window window_ = 0;
    GC gc_ = nullptr;
    Atom wm_protocols_ = 0;
    Atom wm_delete_ = 0;
    Atom private_message_ = 0;
    bool enabled_ = true;
    pid_t updater_pid_ = -1;
    sample_product::record_log record_;
};

}  // namespace

int main(int argc, char** argv) {
    options opts;
    if (!sample_product::parse(std::vector<std::string>(argv + 1, argv + argc), opts)) return 2;
    return product(opts).run();
}
