// A desktop of the test's own: Xvfb on a display number it picks itself
// (-displayfd) with openbox as the window manager, started for one test
// process and stopped with it; plus running X tools (xdotool, xprop) on it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/eventually.h"

namespace test_support {

class private_desktop {
public:
    // Starts the server and the window manager and points $DISPLAY at them.
    bool start() {
        int number_pipe = -1;
        server_ = spawn_tied({"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x800x24"},
                             &number_pipe);
        if (server_ <= 0) return false;
        std::string number;
        char c = 0;
        while (::read(number_pipe, &c, 1) == 1 && c != '\n') number.push_back(c);
        ::close(number_pipe);
        if (number.empty()) return false;
        display_ = ":" + number;
        ::setenv("DISPLAY", display_.c_str(), 1);
        // Ready once openbox names itself on the root window; an openbox
        // that ended early (the server still settling) is started again.
        return eventually([&] {
                   int status = 0;
                   if (window_manager_ <= 0 || ::waitpid(window_manager_, &status, WNOHANG) == window_manager_) {
                       std::fprintf(stderr, "private desktop %s: starting openbox\n", display_.c_str());
                       window_manager_ = spawn_tied({"/usr/bin/openbox", "--sm-disable"}, nullptr);
                   }
                   return output({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") != std::string::npos;
               }) &&
               settle();
    }

    ~private_desktop() {
        stop(window_manager_);
        stop(server_);  // SIGTERM: Xvfb removes its lock file and socket
    }

    const std::string& display() const { return display_; }

    // Runs a program on the desktop and returns its standard output.
    std::string output(const std::vector<std::string>& command) {
        child_process child;
        if (!child.start_program(resolve(command.front()), {command.begin() + 1, command.end()})) return {};
        std::string text = child.read_all(tool_limit_ms);
        child.wait_for_exit(tool_limit_ms);
        return text;
    }

    // Runs a program on the desktop; true when it exits with 0.
    bool run(const std::vector<std::string>& command) {
        child_process child;
        return child.start_program(resolve(command.front()), {command.begin() + 1, command.end()}) &&
               child.wait_for_exit(tool_limit_ms) && child.exited() && child.exit_code() == 0;
    }

private:
    // An X tool that takes longer than this is stuck; the test goes on without it.
    static constexpr int tool_limit_ms = 10000;

    static std::string resolve(const std::string& program) {
        return program.find('/') == std::string::npos ? "/usr/bin/" + program : program;
    }
    // openbox names itself before it has finished starting (it still
    // places and focuses windows differently for a moment).
    static bool settle() {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return true;
    }

    // A child that gets SIGTERM when this process dies, however it dies, so
    // that no server outlives a crashed test. Its output goes to *output
    // when asked for, else nowhere.
    static pid_t spawn_tied(std::vector<std::string> command, int* output) {
        int fds[2] = {-1, -1};
        if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
        std::vector<char*> argv;
        for (std::string& arg : command) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(output ? fds[1] : null, 1);
            ::dup2(null, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        if (output != nullptr && pid > 0) {
            *output = fds[0];
        } else {
            ::close(fds[0]);
        }
        return pid;
    }
    static void stop(pid_t pid) {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }

    pid_t server_ = -1;
    pid_t window_manager_ = -1;
    std::string display_;
};

}  // namespace test_support
