// nginx as a real package host: started from the template on a free port of
// 127.0.0.1 with its own prefix, as a foreground child, and stopped at the end.
#pragma once

#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace download_test {

class nginx_host {
public:
    // prefix: an existing directory; the files served are under prefix/www.
    nginx_host(const std::string& prefix, const std::string& rate = "200k") : prefix_(prefix) {
        std::filesystem::create_directories(prefix_ + "/www");
        std::mt19937 random(std::random_device{}());
        for (int attempt = 0; attempt < 10 && pid_ <= 0; ++attempt) {
            port_ = 20000 + static_cast<int>(random() % 40000);
            if (!write_config(rate)) return;
            start();
        }
    }
    ~nginx_host() { stop(); }
    nginx_host(const nginx_host&) = delete;
    nginx_host& operator=(const nginx_host&) = delete;

    bool running() const { return pid_ > 0; }
    std::string www() const { return prefix_ + "/www/"; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    bool write_config(const std::string& rate) {
        std::ifstream in(NGINX_CONFIG_TEMPLATE);
        std::stringstream text;
        text << in.rdbuf();
        std::string config = text.str();
        if (config.empty()) return false;
        replace_all(config, "@PREFIX@", prefix_);
        replace_all(config, "@PORT@", std::to_string(port_));
        replace_all(config, "@RATE@", rate);
        std::ofstream(prefix_ + "/nginx.conf") << config;
        return true;
    }

    static void replace_all(std::string& text, const std::string& from, const std::string& to) {
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
        }
    }

    // Starts nginx and waits (bounded) until it answers; on failure the child is gone.
    void start() {
        const std::string conf = prefix_ + "/nginx.conf";
        const std::string error_log = prefix_ + "/error.log";
        const char* argv[] = {NGINX_BINARY, "-p", prefix_.c_str(),   "-c",
                              conf.c_str(), "-e", error_log.c_str(), nullptr};
        pid_t pid = 0;
        if (::posix_spawn(&pid, NGINX_BINARY, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return;
        pid_ = pid;
        httplib::Client client("127.0.0.1", port_);
        client.set_connection_timeout(0, 200000);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;  // it ended: most likely the port was taken
                return;
            }
            if (client.Get("/")) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop();
    }

    std::string prefix_;
    int port_ = 0;
    pid_t pid_ = 0;
};

}  // namespace download_test
