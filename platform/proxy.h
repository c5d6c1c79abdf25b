// The proxy of a request. On Linux libcurl reads http_proxy, https_proxy,
// all_proxy and no_proxy itself; on Windows the current user's system proxy
// settings (a fixed proxy with its bypass list, an automatic configuration
// script, automatic detection) are asked through WinHTTP. The environment
// wins over the system settings whenever it names a proxy.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace platform {

// The proxy for url in libcurl's form ("http://host:port"), or empty when
// the request goes direct or libcurl finds the proxy in the environment.
// A lookup still going when *cancelled becomes true ends within 50 ms.
std::string proxy_for_request(const std::string& url, const std::atomic<bool>* cancelled = nullptr);

// True when one of libcurl's proxy variables is set and not empty.
bool proxy_environment_set();

// From a system proxy list ("host:port", or "http=host:port;https=host:port"
// and the like, ';' or blank separated), the proxy for scheme in libcurl's
// form; empty when the list has none for it.
std::string pick_proxy(std::string_view list, std::string_view scheme);

// True when host matches the bypass list: entries separated by ';' or
// blanks, '*' matching any run of characters, case ignored, and "<local>"
// matching every host without a dot.
bool proxy_bypassed(std::string_view bypass_list, std::string_view host);

// The scheme ("http", "https") and host of url, lower case; empty when url has none.
std::string url_scheme(std::string_view url);
std::string url_host(std::string_view url);

}  // namespace platform
