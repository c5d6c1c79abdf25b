// The portable part of proxy selection: reading the system's proxy list and
// bypass list, and whether the environment names a proxy.
#include <cstdlib>
#include <vector>

#include "platform/proxy.h"

namespace platform {

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower(c);
    return out;
}

std::vector<std::string_view> entries_of(std::string_view list) {
    std::vector<std::string_view> entries;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find_first_of("; \t\r\n", start);
        if (end == std::string_view::npos) end = list.size();
        if (end > start) entries.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

// Glob match with '*' only.
bool matches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && lower(pattern[p]) == lower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string with_scheme(std::string_view proxy) {
    if (proxy.find("://") != std::string_view::npos) return std::string(proxy);
    return "http://" + std::string(proxy);
}

}  // namespace

bool proxy_environment_set() {
    static const char* const names[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

std::string pick_proxy(std::string_view list, std::string_view scheme) {
    std::string fallback;
    const std::string wanted = lowered(scheme) + "=";
    for (const std::string_view entry : entries_of(list)) {
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (fallback.empty()) fallback = with_scheme(entry);
        } else if (lowered(entry.substr(0, equals + 1)) == wanted && equals + 1 < entry.size()) {
            return with_scheme(entry.substr(equals + 1));
        }
    }
    return fallback;
}

bool proxy_bypassed(std::string_view bypass_list, std::string_view host) {
    if (host.empty()) return false;
    for (const std::string_view entry : entries_of(bypass_list)) {
        if (lowered(entry) == "<local>") {
            if (host.find('.') == std::string_view::npos) return true;
        } else if (matches(entry, host)) {
            return true;
        }
    }
    return false;
}

std::string url_scheme(std::string_view url) {
    const std::size_t colon = url.find("://");
    return colon == std::string_view::npos ? std::string() : lowered(url.substr(0, colon));
}

std::string url_host(std::string_view url) {
    const std::size_t colon = url.find("://");
    if (colon == std::string_view::npos) return {};
    std::string_view rest = url.substr(colon + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = rest.rfind('@');
    if (at != std::string_view::npos) rest = rest.substr(at + 1);
    if (rest.starts_with("[")) {
        const std::size_t close = rest.find(']');
        return lowered(rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    return lowered(rest.substr(0, rest.find(':')));
}

}  // namespace platform
