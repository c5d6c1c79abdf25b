// A small local update service: answers the update query with a fixed JSON
// file and serves a folder of packages with byte ranges.
//   update_service --answer FILE --packages DIR [--port N] [--rate BYTES_PER_S]
// Binds 127.0.0.1 (a free port unless one is given), prints "port=<N>" and
// runs until SIGTERM or SIGINT. "{host}" in the answer stands for the
// service's own 127.0.0.1:<port>, so an answer can point at its packages.
// --rate sends each package response at most that fast (a slow network).
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace {

struct service_options {
    std::string answer_path;
    std::string packages_dir;
    int port = 0;
    long long rate = 0;  // bytes per second of a package response; 0 unlimited
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

bool parse_rate(const std::string& text, long long& rate) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value <= 0) return false;
    rate = value;
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
        } else if (name == "--rate") {
            if (!parse_rate(value, options.rate)) return false;
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

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// A package name is one plain file name inside the packages folder.
bool is_plain_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

// Serves one package file at most rate bytes per second; httplib cuts the
// byte range a request asks for out of the sized provider, which reads only
// the slices it sends.
void serve_throttled(const std::string& path, long long rate, httplib::Response& res) {
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (!*file || error) {
        res.status = 404;
        return;
    }
    const std::size_t slice = static_cast<std::size_t>(std::max<long long>(1, rate / 20));
    res.set_content_provider(static_cast<std::size_t>(size), "application/octet-stream",
                             [file, slice](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 std::string buffer(std::min(slice, length), '\0');
                                 file->seekg(static_cast<std::streamoff>(offset));
                                 if (!file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
                                     return false;  // the file shrank under us: end the response
                                 }
                                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                 return sink.write(buffer.data(), buffer.size());
                             });
}

// The answer file is read again for every request, so a demo or a test can
// change it (and the packages) while the service runs.
void add_routes(httplib::Server& server, const service_options& options, int port) {
    const std::string host = "127.0.0.1:" + std::to_string(port);
    server.Get("/soft/update/search",
               [path = options.answer_path, host](const httplib::Request&, httplib::Response& res) {
                   std::string answer;
                   if (!read_file(path, answer)) {
                       res.status = 500;
                       res.set_content("answer file unreadable\n", "text/plain");
                       return;
                   }
                   replace_all(answer, "{host}", host);
                   res.set_content(answer, "application/json");
               });
    if (options.rate > 0) {
        server.Get("/packages/([^/]+)", [options](const httplib::Request& req, httplib::Response& res) {
            const std::string name = req.matches[1];
            if (!is_plain_name(name)) {
                res.status = 404;
                return;
            }
            serve_throttled(options.packages_dir + "/" + name, options.rate, res);
        });
    }
    server.set_logger(&log_request);
}

}  // namespace

int main(int argc, char** argv) {
    service_options options;
    if (!parse_options(argc, argv, options)) {
        std::fprintf(stderr, "usage: update_service --answer FILE --packages DIR [--port N] [--rate BYTES_PER_S]\n");
        return 2;
    }
    httplib::Server server;
    // Without a rate the folder is served as it is (ranges included); the
    // throttled route replaces it otherwise.
    if (options.rate == 0 && !server.set_mount_point("/packages", options.packages_dir)) {
        std::fprintf(stderr, "update_service: %s is not a directory\n", options.packages_dir.c_str());
        return 1;
    }
    const int port = options.port == 0 ? server.bind_to_any_port("127.0.0.1")
                                       : (server.bind_to_port("127.0.0.1", options.port) ? options.port : -1);
    if (port <= 0) {
        std::fprintf(stderr, "update_service: cannot bind 127.0.0.1:%d\n", options.port);
        return 1;
    }
    add_routes(server, options, port);
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
