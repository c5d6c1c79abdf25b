// A small local update service: answers the update query with a fixed JSON
// file and serves a folder of packages with byte ranges.
//   update_service --answer FILE --packages DIR [--port N]
// Binds 127.0.0.1 (a free port unless one is given), prints "port=<N>" and
// runs until SIGTERM or SIGINT.
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

struct service_options {
    std::string answer_path;
    std::string packages_dir;
    int port = 0;
};

volatile std::sig_atomic_t stop_requested = 0;

void on_stop_signal(int) {
    stop_requested = 1;
}

bool parse_port(const std::string& text, int& port) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

bool parse_options(int argc, char** argv, service_options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--answer") {
            options.answer_path = value;
        } else if (name == "--packages") {
            options.packages_dir = value;
        } else if (name == "--port") {
            if (!parse_port(value, options.port)) return false;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.answer_path.empty() && !options.packages_dir.empty();
}

bool read_file(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

// One line per request: the request line as received and the status sent.
void log_request(const httplib::Request& request, const httplib::Response& response) {
    const std::string& target = request.target.empty() ? request.path : request.target;
    std::fprintf(stderr, "%s %s %s %d\n", request.method.c_str(), target.c_str(), request.version.c_str(),
                 response.status);
}

// The answer file is read again for every request, so a demo can change it
// while the service runs.
void add_routes(httplib::Server& server, const service_options& options) {
    server.Get("/soft/update/search", [path = options.answer_path](const httplib::Request&, httplib::Response& res) {
        std::string answer;
        if (!read_file(path, answer)) {
            res.status = 500;
            res.set_content("answer file unreadable\n", "text/plain");
            return;
        }
        res.set_content(answer, "application/json");
    });
    server.set_logger(&log_request);
}

}  // namespace

int main(int argc, char** argv) {
    service_options options;
    if (!parse_options(argc, argv, options)) {
        std::fprintf(stderr, "usage: update_service --answer FILE --packages DIR [--port N]\n");
        return 2;
    }
    httplib::Server server;
    if (!server.set_mount_point("/packages", options.packages_dir)) {
        std::fprintf(stderr, "update_service: %s is not a directory\n", options.packages_dir.c_str());
        return 1;
    }
    add_routes(server, options);
    const int port = options.port == 0 ? server.bind_to_any_port("127.0.0.1")
                                       : (server.bind_to_port("127.0.0.1", options.port) ? options.port : -1);
    if (port <= 0) {
        std::fprintf(stderr, "update_service: cannot bind 127.0.0.1:%d\n", options.port);
        return 1;
    }
    std::signal(SIGTERM, on_stop_signal);
    std::signal(SIGINT, on_stop_signal);
    std::thread listener([&server] { server.listen_after_bind(); });
    // stop() only takes effect on a running server; give it a moment to start.
    for (int i = 0; i < 500 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::printf("port=%d\n", port);
    std::fflush(stdout);
    while (stop_requested == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.stop();
    listener.join();
    return 0;
}
