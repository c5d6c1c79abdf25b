// The proxy of a request. On Linux libcurl reads http_proxy, https_proxy,
// all_proxy and no_proxy itself; on Windows the current user's system proxy
// settings (a fixed proxy with its bypass list, an automatic configuration
// script, automatic detection) are asked through WinHTTP. The environment
// wins over the system settings scheme by scheme: a variable that names a
// proxy for a request's scheme decides it; the other scheme keeps the
// system's proxy.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The proxy for url in libcurl's form ("http://host:port"), or empty when
// the request goes direct or libcurl finds the proxy in the environment.
// A lookup still going when *cancelled becomes true ends within 50 ms.
std::string proxy_for_request(const std::string& url, const std::atomic<bool>* cancelled = nullptr);

// The proxy variables as libcurl reads them: http_proxy for http (never
// HTTP_PROXY), https_proxy or else HTTPS_PROXY for https, all_proxy or else
// ALL_PROXY for every scheme. An empty variable is no variable.
struct proxy_variables {
    std::string http;
    std::string https;
    std::string all;
};
proxy_variables proxy_variables_of_environment();

// The proxy the environment names for scheme: the scheme's own variable,
// else all_proxy; empty when it names none (no_proxy names none: it only
// sends hosts past a proxy).
std::string environment_proxy(const proxy_variables& variables, std::string_view scheme);

// From a system proxy list ("host:port", or "http=host:port;https=host:port"
// and the like, ';' or blank separated), the proxy for scheme in libcurl's
// form; empty when the list has none for it.
std::string pick_proxy(std::string_view list, std::string_view scheme);

// True when a request for url goes direct by the system's bypass list, read
// as Internet Options reads it: entries separated by ';', ',' or blanks,
// each [scheme "://"] host [":" port] with '*' matching any run of
// characters, an IPv6 address in brackets, case ignored; a scheme or port
// restricts the entry to it (an address without a port has its scheme's);
// "<local>" matches every host name without a dot. Loopback addresses go
// direct as well (see loopback_bypassed).
bool proxy_bypassed(std::string_view bypass_list, std::string_view url);

// The entries alone, without the loopback rule.
bool bypass_entries_match(std::string_view bypass_list, std::string_view url);

// True when url's host is a loopback one (localhost, loopback,
// 127.0.0.0/8, [::1]) and the bypass list does not say "<-loopback>":
// Windows sends those direct whatever the settings say.
bool loopback_bypassed(std::string_view bypass_list, std::string_view url);

// The entries of a bypass list that match nothing because they say nothing
// clear (a port that is no port, an unclosed bracket, an address range),
// in the list's order.
std::vector<std::string> unclear_bypass_entries(std::string_view bypass_list);

// The scheme ("http", "https") and host of url, lower case, the host of an
// IPv6 address without its brackets; empty when url has none. The port is
// the one url names, else its scheme's (80, 443); -1 when neither is known.
std::string url_scheme(std::string_view url);
std::string url_host(std::string_view url);
int url_port(std::string_view url);

}  // namespace platform
