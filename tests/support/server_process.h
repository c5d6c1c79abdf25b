// Test helper: a real server program (web server, proxy) started by a test
// in the foreground with its own configuration on a free port of 127.0.0.1,
// and stopped by it; never the system's own service.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"

namespace test_support {

// A port of 127.0.0.1 that was free a moment ago.
inline int free_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

// True when something accepts connections on 127.0.0.1:port.
inline bool port_answers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

class server_process {
public:
    server_process() = default;
    ~server_process() { stop(); }
    server_process(const server_process&) = delete;
    server_process& operator=(const server_process&) = delete;

    // Starts argv and waits (at most timeout_ms) until port answers; false
    // when the program ended or never answered (it is then stopped).
    bool start(const std::vector<std::string>& argv, int port, const std::string& log_path,
               const std::string& working_dir = "", int timeout_ms = 15000) {
        port_ = port;
        // A session of its own (setsid execs in place, keeping the pid): a
        // server that signals its whole process group on shutdown (apache2
        // does) must not take the test with it.
        std::vector<std::string> command{"/usr/bin/setsid"};
        command.insert(command.end(), argv.begin(), argv.end());
        if (!child_.start(command, log_path, working_dir)) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < deadline) {
            if (port_answers(port)) return true;
            if (!child_.running()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop();
        return false;
    }

    int port() const { return port_; }

    // Ends the server (SIGTERM, then SIGKILL after a while) and reaps it.
    void stop() {
        if (child_.ended()) return;
        ::kill(child_.pid(), SIGTERM);
        if (!child_.wait_for_exit(5000)) child_.kill_now();
    }

private:
    child_process child_;
    int port_ = 0;
};

}  // namespace test_support
