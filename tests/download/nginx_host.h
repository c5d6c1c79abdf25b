// nginx as a real package host: started from the template on a free port of
// 127.0.0.1 with its own prefix, as a foreground child, and stopped at the end.
#pragma once

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace download_test {

// How nginx speaks: plain HTTP/1.1, or TLS with a throw-away self-signed
// certificate, with or without HTTP/2.
enum class nginx_protocol { http, https, https_http2 };

class nginx_host {
public:
    // prefix: an existing directory; the files served are under prefix/www.
    nginx_host(const std::string& prefix, const std::string& rate = "200k",
               nginx_protocol protocol = nginx_protocol::http)
        : prefix_(prefix), protocol_(protocol) {
        std::filesystem::create_directories(prefix_ + "/www");
        if (protocol_ != nginx_protocol::http && !make_certificate()) return;
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
    int port() const { return port_; }
    std::string url(const std::string& path) const {
        const char* scheme = protocol_ == nginx_protocol::http ? "http" : "https";
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + path;
    }
    // The access log: connection, protocol, status, "range", "if-range", body bytes; one request a line.
    std::string access_log() const {
        std::ifstream in(prefix_ + "/access.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Starts a stopped nginx again on the same port; true when it answers.
    bool start_again() {
        if (pid_ <= 0) start();
        return running();
    }

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
        const bool tls = protocol_ != nginx_protocol::http;
        replace_all(config, "@LISTEN_OPTIONS@",
                    protocol_ == nginx_protocol::https_http2 ? "ssl http2" : (tls ? "ssl" : ""));
        replace_all(
            config, "@TLS@",
            tls ? "ssl_certificate " + prefix_ + "/cert.pem; ssl_certificate_key " + prefix_ + "/key.pem;" : "");
        std::ofstream(prefix_ + "/nginx.conf") << config;
        return true;
    }

    static void replace_all(std::string& text, const std::string& from, const std::string& to) {
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
        }
    }

    // A self-signed certificate for 127.0.0.1, valid for a day, made by openssl.
    bool make_certificate() {
        const std::string key = prefix_ + "/key.pem";
        const std::string cert = prefix_ + "/cert.pem";
        const char* argv[] = {"/usr/bin/openssl",
                              "req",
                              "-x509",
                              "-newkey",
                              "ec",
                              "-pkeyopt",
                              "ec_paramgen_curve:prime256v1",
                              "-nodes",
                              "-days",
                              "1",
                              "-subj",
                              "/CN=127.0.0.1",
                              "-keyout",
                              key.c_str(),
                              "-out",
                              cert.c_str(),
                              nullptr};
        posix_spawn_file_actions_t actions;
        if (::posix_spawn_file_actions_init(&actions) != 0) return false;
        // openssl's chatter stays out of the test's output.
        (void)::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
        (void)::posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return false;
        int status = 0;
        return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
               std::filesystem::exists(cert);
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
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;  // it ended: most likely the port was taken
                return;
            }
            if (accepts_connections()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop();
    }

    // Whether nginx answers on the port, over TLS where it speaks TLS.
    bool accepts_connections() const {
        if (protocol_ == nginx_protocol::http) {
            httplib::Client client("127.0.0.1", port_);
            client.set_connection_timeout(0, 200000);
            return static_cast<bool>(client.Get("/"));
        }
        httplib::SSLClient client("127.0.0.1", port_);
        client.enable_server_certificate_verification(false);  // the throw-away certificate
        client.set_connection_timeout(0, 200000);
        return static_cast<bool>(client.Get("/"));
    }

    std::string prefix_;
    nginx_protocol protocol_;
    int port_ = 0;
    pid_t pid_ = 0;
};

}  // namespace download_test
