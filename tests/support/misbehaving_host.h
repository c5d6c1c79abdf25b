// Test helper: an HTTP host on 127.0.0.1 that misbehaves the way real
// networks do (a dead host, a drip, a captive portal), written on plain
// sockets so that every byte and every pause is under the test's control.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

enum class misbehaviour {
    healthy,           // answers ranges with 206 at once
    silent,            // reads the request, then sends nothing
    drip_headers,      // sends the response head one byte per drip
    drip_body,         // sends the head at once, then one body byte per drip
    html_page,         // answers everything with 200 and a login page
    redirect_to_html,  // answers with a 302 to a login page
};

class misbehaving_host {
public:
    explicit misbehaving_host(misbehaviour kind, std::string body = {},
                              std::chrono::milliseconds drip = std::chrono::milliseconds(400))
        : kind_(kind), body_(std::move(body)), drip_(drip) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        (void)::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(listener_, 16) == 0) {
            socklen_t length = sizeof address;
            (void)::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
            port_ = ntohs(address.sin_port);
        }
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    ~misbehaving_host() { stop(); }
    misbehaving_host(const misbehaving_host&) = delete;
    misbehaving_host& operator=(const misbehaving_host&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    void set_kind(misbehaviour kind) { kind_.store(kind); }
    int requests() const { return requests_.load(); }
    // The Range header of every request, in arrival order ("" when none).
    std::vector<std::string> ranges_asked() const {
        std::lock_guard<std::mutex> guard(lock_);
        return ranges_;
    }

    // The head of every request, in arrival order.
    std::vector<std::string> heads() const {
        std::lock_guard<std::mutex> guard(lock_);
        return heads_;
    }

    // Ends every connection and joins every thread; prompt, whatever the host is doing.
    void stop() {
        if (stopping_.exchange(true)) return;
        if (acceptor_.joinable()) acceptor_.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard<std::mutex> guard(lock_);
            workers.swap(workers_);
        }
        for (std::thread& worker : workers) worker.join();
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
    }

private:
    static constexpr const char* LOGIN_PAGE =
        "<!DOCTYPE html>\n<html><head><title>Wi-Fi login</title></head>\n"
        "<body><form action=\"/login\">Accept the terms\tto continue</form></body></html>\n";
    static constexpr const char* ETAG = "\"pkg-1\"";

    // Waits up to ms for fd to become readable; false when stopping.
    bool wait_readable(int fd, int ms) const {
        pollfd entry{fd, POLLIN, 0};
        return !stopping_.load() && ::poll(&entry, 1, ms) > 0;
    }

    // Sleeps for the drip, waking early when the host stops.
    bool pause() const {
        const auto until = std::chrono::steady_clock::now() + drip_;
        while (std::chrono::steady_clock::now() < until) {
            if (stopping_.load()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return !stopping_.load();
    }

    void accept_loop() {
        while (!stopping_.load()) {
            if (listener_ < 0 || !wait_readable(listener_, 50)) continue;
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            std::lock_guard<std::mutex> guard(lock_);
            workers_.emplace_back([this, fd] {
                serve(fd);
                ::close(fd);
            });
        }
    }

    static bool send_all(int fd, const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t put = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (put <= 0) return false;
            sent += static_cast<std::size_t>(put);
        }
        return true;
    }

    // The value of header name (lower case, with its colon) in head, or "".
    static std::string header_value(const std::string& head, const std::string& name) {
        std::string lower = head;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        const std::size_t at = lower.find("\r\n" + name);
        if (at == std::string::npos) return {};
        const std::size_t start = at + 2 + name.size();
        const std::size_t end = head.find("\r\n", start);
        std::string value = head.substr(start, end - start);
        value.erase(0, value.find_first_not_of(' '));
        return value;
    }

    void serve(int fd) {
        // Requests on this connection, one after another (keep-alive).
        std::string buffer;
        while (!stopping_.load()) {
            const std::size_t end = buffer.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (!wait_readable(fd, 50)) continue;
                char chunk[4096];
                const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
                if (got <= 0) return;
                buffer.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            const std::string head = buffer.substr(0, end + 2);
            buffer.erase(0, end + 4);
            ++requests_;
            const std::string range = header_value(head, "range:");
            {
                std::lock_guard<std::mutex> guard(lock_);
                ranges_.push_back(range);
                heads_.push_back(head);
            }
            if (!answer(fd, head, range)) return;
        }
    }

    bool answer(int fd, const std::string& head, const std::string& range) {
        const misbehaviour kind = kind_.load();
        if (kind == misbehaviour::silent) {
            while (pause()) {
            }
            return false;
        }
        if (kind == misbehaviour::html_page ||
            (kind == misbehaviour::redirect_to_html && head.find(" /login ") != std::string::npos)) {
            const std::string page = LOGIN_PAGE;
            return send_all(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                    std::to_string(page.size()) + "\r\n\r\n" + page);
        }
        if (kind == misbehaviour::redirect_to_html) {
            return send_all(fd,
                            "HTTP/1.1 302 Found\r\nLocation: /login\r\nContent-Type: text/html\r\n"
                            "Content-Length: 0\r\n\r\n");
        }
        // The package, whole or the asked range of it.
        std::size_t first = 0;
        std::size_t last = body_.empty() ? 0 : body_.size() - 1;
        std::string status = "200 OK";
        std::string extra;
        if (range.starts_with("bytes=") && !body_.empty()) {
            const std::size_t dash = range.find('-');
            first = std::stoull(range.substr(6, dash - 6));
            if (dash + 1 < range.size())
                last = std::min(last, static_cast<std::size_t>(std::stoull(range.substr(dash + 1))));
            status = "206 Partial Content";
            extra = "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                    std::to_string(body_.size()) + "\r\n";
        }
        const std::string part = body_.empty() ? std::string() : body_.substr(first, last - first + 1);
        const std::string response_head = "HTTP/1.1 " + status +
                                          "\r\nContent-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n"
                                          "ETag: " +
                                          ETAG + "\r\n" + extra + "Content-Length: " + std::to_string(part.size()) +
                                          "\r\n\r\n";
        const bool is_probe = head.starts_with("HEAD ");
        if (kind == misbehaviour::drip_headers) {
            for (const char c : response_head) {
                if (!pause() || !send_all(fd, std::string(1, c))) return false;
            }
            return false;
        }
        if (!send_all(fd, response_head)) return false;
        if (is_probe) return true;
        if (kind == misbehaviour::drip_body) {
            for (const char c : part) {
                if (!pause() || !send_all(fd, std::string(1, c))) return false;
            }
            return true;
        }
        return send_all(fd, part);
    }

    std::atomic<misbehaviour> kind_;
    std::string body_;
    std::chrono::milliseconds drip_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    mutable std::mutex lock_;
    std::vector<std::string> ranges_;
    std::vector<std::string> heads_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace test_support
