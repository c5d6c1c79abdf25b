// The proxy of a request from the current user's settings, as Windows keeps
// them (the DefaultConnectionSettings record that WinHTTP reads), with an
// automatic configuration script served on 127.0.0.1.
#include <winsock2.h>
#include <ws2tcpip.h>
// (winsock2.h comes before windows.h, which would bring in the old winsock.h)
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/proxy.h"

namespace {

const wchar_t* const CONNECTIONS = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t* const SETTINGS = L"DefaultConnectionSettings";

void put_counted(std::vector<std::uint8_t>& record, const std::string& text) {
    const auto length = static_cast<std::uint32_t>(text.size());
    for (int i = 0; i < 4; ++i) record.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    record.insert(record.end(), text.begin(), text.end());
}

// The user's settings for the life of the test; the earlier ones come back after.
class user_proxy_settings {
public:
    user_proxy_settings(const std::string& proxy, const std::string& bypass, const std::string& script) {
        (void)::RegCreateKeyExW(HKEY_CURRENT_USER, CONNECTIONS, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_,
                                nullptr);
        DWORD size = 0;
        if (::RegQueryValueExW(key_, SETTINGS, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            old_.resize(size);
            had_old_ = ::RegQueryValueExW(key_, SETTINGS, nullptr, nullptr, old_.data(), &size) == ERROR_SUCCESS;
        }
        // Magic, a counter, the flags: direct | fixed proxy | script.
        std::vector<std::uint8_t> record = {0x46, 0, 0, 0, 1, 0, 0, 0};
        const std::uint8_t flags = 0x1 | 0x2 | (script.empty() ? 0 : 0x4);
        record.insert(record.end(), {flags, 0, 0, 0});
        put_counted(record, proxy);
        put_counted(record, bypass);
        put_counted(record, script);
        record.resize(record.size() + 32);
        written_ = ::RegSetValueExW(key_, SETTINGS, 0, REG_BINARY, record.data(), static_cast<DWORD>(record.size())) ==
                   ERROR_SUCCESS;
    }
    ~user_proxy_settings() {
        if (had_old_) {
            (void)::RegSetValueExW(key_, SETTINGS, 0, REG_BINARY, old_.data(), static_cast<DWORD>(old_.size()));
        } else {
            (void)::RegDeleteValueW(key_, SETTINGS);
        }
        (void)::RegCloseKey(key_);
    }
    user_proxy_settings(const user_proxy_settings&) = delete;
    user_proxy_settings& operator=(const user_proxy_settings&) = delete;
    bool written() const { return written_; }

private:
    HKEY key_ = nullptr;
    std::vector<std::uint8_t> old_;
    bool had_old_ = false;
    bool written_ = false;
};

// A host on 127.0.0.1 that answers every connection with script, or, when
// script is empty, accepts and then says nothing.
class script_host {
public:
    explicit script_host(std::string script) : script_(std::move(script)) {
        WSADATA data;
        (void)::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(listener_, 8) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~script_host() {
        stopping_ = true;
        thread_.join();
        (void)::closesocket(listener_);
        for (SOCKET s : held_) (void)::closesocket(s);
        (void)::WSACleanup();
    }
    script_host(const script_host&) = delete;
    script_host& operator=(const script_host&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/proxy.pac"; }

private:
    void serve() {
        while (!stopping_) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(listener_, &readable);
            timeval wait{0, 100 * 1000};
            if (::select(0, &readable, nullptr, nullptr, &wait) != 1) continue;
            const SOCKET s = ::accept(listener_, nullptr, nullptr);
            if (s == INVALID_SOCKET) return;
            if (script_.empty()) {
                held_.push_back(s);  // silent: kept open, never answered
                continue;
            }
            char request[4096];
            (void)::recv(s, request, sizeof request, 0);
            const std::string answer =
                "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                "Connection: close\r\nContent-Length: " +
                std::to_string(script_.size()) + "\r\n\r\n" + script_;
            (void)::send(s, answer.data(), static_cast<int>(answer.size()), 0);
            (void)::shutdown(s, SD_SEND);
            (void)::closesocket(s);
        }
    }

    std::string script_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::vector<SOCKET> held_;
    std::thread thread_;
};

// The environment wins over the settings: most tests run without it.
void clear_proxy_environment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        (void)::_putenv_s(name, "");
    }
}

using variable_list = std::vector<std::pair<std::string, std::string>>;

// Proxy variables for the life of a test; the earlier ones come back after.
class proxy_environment {
public:
    explicit proxy_environment(const variable_list& variables) {
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy"}) {
            const char* value = std::getenv(name);
            earlier_.emplace_back(name, value != nullptr ? value : "");
            (void)::_putenv_s(name, "");
        }
        for (const auto& [name, value] : variables) (void)::_putenv_s(name.c_str(), value.c_str());
    }
    ~proxy_environment() {
        for (const auto& [name, value] : earlier_) (void)::_putenv_s(name.c_str(), value.c_str());
    }
    proxy_environment(const proxy_environment&) = delete;
    proxy_environment& operator=(const proxy_environment&) = delete;

private:
    variable_list earlier_;
};

const char* const SYSTEM_PROXY = "127.0.0.1:3128";
const char* const SYSTEM_PROXY_URL = "http://127.0.0.1:3128";

// Every case asks for a host of its own: answers are kept per host for a minute.
TEST(win32_proxy, the_users_settings_choose_the_proxy) {
    struct proxy_case {
        const char* what;
        std::string script;  // the configuration script the host serves; empty: no script
        const char* url;
        std::string bypass;
        std::string expected;
    };
    const std::string script = "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:3129\"; }\n";
    const proxy_case cases[] = {
        {"fixed proxy", "", "http://fixed.example.invalid/p", "<local>", "http://127.0.0.1:3128"},
        {"on the bypass list", "", "http://bypassed.example.invalid/p", "*.example.invalid", ""},
        {"a name without a dot is local", "", "http://intranet/p", "<local>", ""},
        {"the script wins over the fixed proxy", script, "http://scripted.example.invalid/p", "",
         "http://127.0.0.1:3129"},
    };
    clear_proxy_environment();
    for (const proxy_case& c : cases) {
        SCOPED_TRACE(c.what);
        script_host host(c.script);
        user_proxy_settings settings("127.0.0.1:3128", c.bypass, c.script.empty() ? "" : host.url());
        ASSERT_TRUE(settings.written());
        EXPECT_EQ(platform::proxy_for_request(c.url), c.expected);
    }
}

// The bypass list as Internet Options means it: an entry may name a scheme,
// a port, an IPv6 address in brackets; Windows sends loopback addresses
// direct unless the list says "<-loopback>". Every case asks for an address
// (scheme, host, port) of its own: answers are kept per address for a minute.
TEST(win32_proxy, the_bypass_list_as_windows_reads_it) {
    struct bypass_case {
        const char* bypass;
        const char* url;
        const char* expected;  // SYSTEM_PROXY_URL or "" (direct)
    };
    const bypass_case cases[] = {
        {"porthost.example.invalid:8080", "http://porthost.example.invalid:8080/p", ""},
        {"porthost.example.invalid:8080", "http://porthost.example.invalid:9090/p", SYSTEM_PROXY_URL},
        {"http://schemed.example.invalid", "http://schemed.example.invalid/p", ""},
        {"http://schemed.example.invalid", "https://schemed.example.invalid/p", SYSTEM_PROXY_URL},
        {"https://*.secure.example.invalid", "https://a.secure.example.invalid/p", ""},
        {"https://*.secure.example.invalid", "http://b.secure.example.invalid/p", SYSTEM_PROXY_URL},
        {"[fe80::1]:80", "http://[fe80::1]/p", ""},
        {"[fe80::1]:80", "http://[fe80::1]:8080/p", SYSTEM_PROXY_URL},
        {"<-loopback>;[::1]", "http://[::1]:5551/p", ""},
        {"other.invalid, *.Comma.Example.Invalid", "http://x.comma.example.invalid/p", ""},
        {"bad.example.invalid:port;good.example.invalid", "http://good.example.invalid/p", ""},
        {"bad.example.invalid:port;good.example.invalid", "http://bad.example.invalid/p", SYSTEM_PROXY_URL},
        // Loopback: direct whatever the list says, unless it says <-loopback>.
        {"", "http://127.0.0.1:5552/p", ""},
        {"<local>", "http://127.0.0.1:5553/p", ""},
        {"<local>", "http://localhost:5554/p", ""},
        {"<local>", "http://[::1]:5555/p", ""},
        {"<local>", "http://127.0.0.2:5556/p", ""},
        {"<-loopback>", "http://127.0.0.1:5557/p", SYSTEM_PROXY_URL},
        {"<-loopback>;<local>", "http://localhost:5558/p", ""},
        {"<-loopback>;127.0.0.1:5559", "http://127.0.0.1:5559/p", ""},
    };
    clear_proxy_environment();
    for (const bypass_case& c : cases) {
        user_proxy_settings settings(SYSTEM_PROXY, c.bypass, "");
        ASSERT_TRUE(settings.written());
        EXPECT_EQ(platform::proxy_for_request(c.url), c.expected) << "bypass list \"" << c.bypass << "\", " << c.url;
    }
}

// The environment wins scheme by scheme: a variable for one scheme leaves
// the other to the user's settings; all_proxy covers both.
TEST(win32_proxy, the_environment_wins_for_its_own_schemes) {
    struct environment_case {
        variable_list variables;
        const char* url;
        const char* expected;  // SYSTEM_PROXY_URL, or "": libcurl takes the environment's
    };
    const char* const ENVIRONMENT_PROXY = "http://127.0.0.1:3130";
    const environment_case cases[] = {
        {{{"https_proxy", ENVIRONMENT_PROXY}}, "http://env-a.example.invalid/p", SYSTEM_PROXY_URL},
        {{{"https_proxy", ENVIRONMENT_PROXY}}, "https://env-a.example.invalid/p", ""},
        {{{"HTTPS_PROXY", ENVIRONMENT_PROXY}}, "http://env-b.example.invalid/p", SYSTEM_PROXY_URL},
        {{{"HTTPS_PROXY", ENVIRONMENT_PROXY}}, "https://env-b.example.invalid/p", ""},
        {{{"http_proxy", ENVIRONMENT_PROXY}}, "https://env-c.example.invalid/p", SYSTEM_PROXY_URL},
        {{{"http_proxy", ENVIRONMENT_PROXY}}, "http://env-c.example.invalid/p", ""},
        {{{"all_proxy", ENVIRONMENT_PROXY}}, "http://env-d.example.invalid/p", ""},
        {{{"all_proxy", ENVIRONMENT_PROXY}}, "https://env-d.example.invalid/p", ""},
        {{{"ALL_PROXY", ENVIRONMENT_PROXY}}, "https://env-e.example.invalid/p", ""},
        {{{"http_proxy", ENVIRONMENT_PROXY}, {"https_proxy", ENVIRONMENT_PROXY}},
         "https://env-f.example.invalid/p",
         ""},
        // no_proxy names no proxy of its own; an empty variable is no variable.
        {{{"no_proxy", "env-g.example.invalid"}}, "http://env-g.example.invalid/p", SYSTEM_PROXY_URL},
        {{{"https_proxy", ""}}, "https://env-h.example.invalid/p", SYSTEM_PROXY_URL},
        {{}, "http://env-i.example.invalid/p", SYSTEM_PROXY_URL},
    };
    user_proxy_settings settings(SYSTEM_PROXY, "<local>", "");
    ASSERT_TRUE(settings.written());
    for (const environment_case& c : cases) {
        proxy_environment environment(c.variables);
        std::string named;
        for (const auto& [name, value] : c.variables) named += name + "=" + value + " ";
        EXPECT_EQ(platform::proxy_for_request(c.url), c.expected) << named << "for " << c.url;
    }
}

// A configuration script host that accepts and never answers holds the
// request up for a bounded time only (WinHTTP's own timeouts for the script
// can be much longer), and the fixed proxy is used then.
TEST(win32_proxy, a_silent_script_host_holds_the_request_up_briefly) {
    clear_proxy_environment();
    script_host silent("");
    user_proxy_settings settings("127.0.0.1:3128", "", silent.url());
    ASSERT_TRUE(settings.written());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::proxy_for_request("http://silent-script.example.invalid/p"), "http://127.0.0.1:3128");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::seconds(10))
        << std::chrono::duration_cast<std::chrono::milliseconds>(waited).count() << " ms";
}

// A stop while the script is looked up ends the lookup at once, and the
// cut-short answer is not kept for the next request.
TEST(win32_proxy, a_stop_ends_the_script_lookup) {
    clear_proxy_environment();
    script_host silent("");
    user_proxy_settings settings("127.0.0.1:3128", "", silent.url());
    ASSERT_TRUE(settings.written());
    std::atomic<bool> cancelled{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancelled = true;
    });
    const auto start = std::chrono::steady_clock::now();
    (void)platform::proxy_for_request("http://stopped.example.invalid/p", &cancelled);
    const auto waited = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_LT(waited, std::chrono::seconds(1))
        << std::chrono::duration_cast<std::chrono::milliseconds>(waited).count() << " ms";
}

}  // namespace
