// An in-process HTTP(S) server on 127.0.0.1 for tests: started on a free
// port, records every request, stopped and joined by its destructor.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

// What the server saw of one request.
struct recorded_request {
    std::string path;
    std::string target;  // path and query as sent
    std::string cookie;  // the Cookie header, empty when none was sent
};

class test_server {
public:
    // A plain HTTP server.
    test_server() : server_(std::make_unique<httplib::Server>()) { init(); }
    ~test_server() { stop(); }
    test_server(const test_server&) = delete;
    test_server& operator=(const test_server&) = delete;

    httplib::Server& server() { return *server_; }
    bool valid() const { return server_->is_valid(); }

    // Binds and starts listening; routes must be added before.
    bool start() {
        port_ = server_->bind_to_any_port("127.0.0.1");
        if (port_ <= 0) return false;
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        for (int i = 0; i < 500 && !server_->is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return server_->is_running();
    }

    void stop() {
        release_waiters();
        if (thread_.joinable()) {
            server_->stop();
            thread_.join();
        }
    }

    int port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path, const std::string& scheme = "http") const {
        return scheme + "://" + host() + path;
    }

    std::vector<recorded_request> requests() {
        std::lock_guard<std::mutex> guard(lock_);
        return requests_;
    }

    // For a handler that must never answer: blocks until the server stops
    // (or ten seconds pass, so that nothing hangs for ever).
    void wait_until_stopped() {
        std::unique_lock<std::mutex> guard(lock_);
        released_.wait_for(guard, std::chrono::seconds(10), [this] { return stopping_; });
    }

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    // An HTTPS server with the certificate and key (where the test program
    // has a TLS library to serve with).
    test_server(const std::string& cert_path, const std::string& key_path)
        : server_(std::make_unique<httplib::SSLServer>(cert_path.c_str(), key_path.c_str())) {
        init();
    }
#endif

private:
    void init() {
        server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            record(request);
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }

    void record(const httplib::Request& request) {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back({request.path, request.target, request.get_header_value("Cookie")});
    }

    void release_waiters() {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        released_.notify_all();
    }

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex lock_;
    std::condition_variable released_;
    bool stopping_ = false;
    std::vector<recorded_request> requests_;
};

}  // namespace test_support
