// The portable part of proxy selection: reading the system's proxy list and
// bypass list as Internet Options means them, and which proxy the
// environment names for a scheme.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/proxy.h"

namespace platform {

namespace {

constexpr std::string_view LOCAL_NAMES = "<local>";
constexpr std::string_view NO_LOOPBACK_BYPASS = "<-loopback>";

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower(c);
    return out;
}

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// A port written in decimal, 1 to 65535.
std::optional<int> port_number(std::string_view text) {
    if (!all_digits(text) || text.size() > 5) return std::nullopt;
    int port = 0;
    for (const char c : text) port = port * 10 + (c - '0');
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

std::vector<std::string_view> entries_of(std::string_view list, std::string_view separators) {
    std::vector<std::string_view> entries;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find_first_of(separators, start);
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

std::optional<std::array<std::uint8_t, 4>> ipv4_address(std::string_view text) {
    const std::vector<std::string_view> parts = entries_of(text, ".");
    if (parts.size() != 4 || text.front() == '.' || text.back() == '.' || text.find("..") != std::string_view::npos) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 4> address{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (!all_digits(parts[i]) || parts[i].size() > 3) return std::nullopt;
        const int value = std::atoi(std::string(parts[i]).c_str());
        if (value > 255) return std::nullopt;
        address[i] = static_cast<std::uint8_t>(value);
    }
    return address;
}

// An IPv6 address in its 16 bytes: groups of up to four hex digits, one
// "::" for a run of zero groups, a dotted IPv4 address as the last 32 bits.
std::optional<std::array<std::uint8_t, 16>> ipv6_address(std::string_view text) {
    const std::size_t gap = text.find("::");
    if (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos) return std::nullopt;
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    const auto read_groups = [](std::string_view part, std::vector<std::uint16_t>& groups) {
        if (part.empty()) return true;
        const std::vector<std::string_view> pieces = entries_of(part, ":");
        if (pieces.size() != static_cast<std::size_t>(std::count(part.begin(), part.end(), ':')) + 1) return false;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const std::string_view piece = pieces[i];
            if (i + 1 == pieces.size() && piece.find('.') != std::string_view::npos) {
                const auto v4 = ipv4_address(piece);
                if (!v4) return false;
                groups.push_back(static_cast<std::uint16_t>((*v4)[0] << 8 | (*v4)[1]));
                groups.push_back(static_cast<std::uint16_t>((*v4)[2] << 8 | (*v4)[3]));
                continue;
            }
            if (piece.empty() || piece.size() > 4) return false;
            unsigned value = 0;
            for (const char c : piece) {
                const char l = lower(c);
                if (l >= '0' && l <= '9') {
                    value = value * 16 + static_cast<unsigned>(l - '0');
                } else if (l >= 'a' && l <= 'f') {
                    value = value * 16 + static_cast<unsigned>(l - 'a' + 10);
                } else {
                    return false;
                }
            }
            groups.push_back(static_cast<std::uint16_t>(value));
        }
        return true;
    };
    if (gap == std::string_view::npos) {
        if (!read_groups(text, head) || head.size() != 8) return std::nullopt;
    } else if (!read_groups(text.substr(0, gap), head) || !read_groups(text.substr(gap + 2), tail) ||
               head.size() + tail.size() > 7) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 16> address{};
    const auto put = [&address](std::size_t index, std::uint16_t group) {
        address[2 * index] = static_cast<std::uint8_t>(group >> 8);
        address[2 * index + 1] = static_cast<std::uint8_t>(group & 0xff);
    };
    for (std::size_t i = 0; i < head.size(); ++i) put(i, head[i]);
    for (std::size_t i = 0; i < tail.size(); ++i) put(8 - tail.size() + i, tail[i]);
    return address;
}

bool is_loopback_host(std::string_view host) {
    if (host == "localhost" || host == "loopback") return true;
    if (const auto v4 = ipv4_address(host)) return (*v4)[0] == 127;
    const auto v6 = ipv6_address(host);
    if (!v6) return false;
    constexpr std::array<std::uint8_t, 16> ONE = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    constexpr std::array<std::uint8_t, 12> MAPPED = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return *v6 == ONE || (std::equal(MAPPED.begin(), MAPPED.end(), v6->begin()) && (*v6)[12] == 127);
}

// One entry of a bypass list: [scheme "://"] host [":" port].
struct bypass_entry {
    enum class kind { host, local_names, no_loopback_bypass, unclear };
    kind what = kind::unclear;
    std::string scheme;  // empty: every scheme
    std::string host;    // lower case, an IPv6 address without brackets
    int port = -1;       // -1: every port
};

bypass_entry read_entry(std::string_view text) {
    bypass_entry entry;
    const std::string low = lowered(text);
    if (low == LOCAL_NAMES) {
        entry.what = bypass_entry::kind::local_names;
        return entry;
    }
    if (low == NO_LOOPBACK_BYPASS) {
        entry.what = bypass_entry::kind::no_loopback_bypass;
        return entry;
    }
    std::string_view rest = low;
    const std::size_t scheme_end = rest.find("://");
    if (scheme_end != std::string_view::npos) {
        entry.scheme = std::string(rest.substr(0, scheme_end));
        rest = rest.substr(scheme_end + 3);
        if (entry.scheme.empty() || entry.scheme.find_first_of(":/[]") != std::string::npos) return entry;
    }
    std::string_view port_text;
    bool has_port = false;
    if (rest.starts_with("[")) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return entry;
        entry.host = std::string(rest.substr(1, close - 1));
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return entry;
            port_text = after.substr(1);
            has_port = true;
        }
    } else if (std::count(rest.begin(), rest.end(), ':') == 1) {
        const std::size_t colon = rest.find(':');
        entry.host = std::string(rest.substr(0, colon));
        port_text = rest.substr(colon + 1);
        has_port = true;
    } else {
        entry.host = std::string(rest);  // a name, or an IPv6 address written bare
    }
    if (entry.host.empty() || entry.host.find_first_of("/<>[]@?#\\") != std::string::npos) return entry;
    if (has_port) {
        const auto port = port_number(port_text);
        if (!port) return entry;
        entry.port = *port;
    }
    entry.what = bypass_entry::kind::host;
    return entry;
}

std::vector<bypass_entry> read_entries(std::string_view list) {
    std::vector<bypass_entry> entries;
    for (const std::string_view text : entries_of(list, "; ,\t\r\n")) entries.push_back(read_entry(text));
    return entries;
}

bool host_matches(const std::string& pattern, const std::string& host) {
    if (pattern.find('*') == std::string::npos) {
        // One IPv6 address has many spellings.
        const auto wanted = ipv6_address(pattern);
        const auto given = ipv6_address(host);
        if (wanted && given) return *wanted == *given;
    }
    return matches(pattern, host);
}

bool entry_matches(const bypass_entry& entry, std::string_view scheme, std::string_view host, int port) {
    switch (entry.what) {
        case bypass_entry::kind::local_names:
            // Names without a dot; an IPv6 address is no name.
            return host.find('.') == std::string_view::npos && host.find(':') == std::string_view::npos;
        case bypass_entry::kind::host:
            if (!entry.scheme.empty() && entry.scheme != scheme) return false;
            if (entry.port != -1 && entry.port != port) return false;
            return host_matches(entry.host, std::string(host));
        case bypass_entry::kind::no_loopback_bypass:
        case bypass_entry::kind::unclear:
            return false;
    }
    return false;
}

// The part of url between "://" and the path, without credentials.
std::string_view authority_of(std::string_view url) {
    const std::size_t colon = url.find("://");
    if (colon == std::string_view::npos) return {};
    std::string_view rest = url.substr(colon + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = rest.rfind('@');
    return at == std::string_view::npos ? rest : rest.substr(at + 1);
}

// What follows the host in an authority: empty, or the text after ':'.
std::optional<std::string_view> port_text_of(std::string_view authority) {
    if (authority.starts_with("[")) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close + 1 >= authority.size()) return std::nullopt;
        if (authority[close + 1] != ':') return std::string_view("x");  // never a port
        return authority.substr(close + 2);
    }
    const std::size_t colon = authority.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return authority.substr(colon + 1);
}

std::string with_scheme(std::string_view proxy) {
    if (proxy.find("://") != std::string_view::npos) return std::string(proxy);
    return "http://" + std::string(proxy);
}

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string variable(const char* name, const char* fallback) {
    std::string value = variable(name);
    return value.empty() ? variable(fallback) : value;
}

}  // namespace

proxy_variables proxy_variables_of_environment() {
    // Never HTTP_PROXY: a web server's CGI programs find a client's "Proxy:"
    // header there.
    return {variable("http_proxy"), variable("https_proxy", "HTTPS_PROXY"), variable("all_proxy", "ALL_PROXY")};
}

std::string environment_proxy(const proxy_variables& variables, std::string_view scheme) {
    const std::string wanted = lowered(scheme);
    if (wanted == "http" && !variables.http.empty()) return variables.http;
    if (wanted == "https" && !variables.https.empty()) return variables.https;
    return variables.all;
}

std::string pick_proxy(std::string_view list, std::string_view scheme) {
    std::string fallback;
    const std::string wanted = lowered(scheme) + "=";
    for (const std::string_view entry : entries_of(list, "; \t\r\n")) {
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (fallback.empty()) fallback = with_scheme(entry);
        } else if (lowered(entry.substr(0, equals + 1)) == wanted && equals + 1 < entry.size()) {
            return with_scheme(entry.substr(equals + 1));
        }
    }
    return fallback;
}

bool bypass_entries_match(std::string_view bypass_list, std::string_view url) {
    const std::string host = url_host(url);
    if (host.empty()) return false;
    const std::string scheme = url_scheme(url);
    const int port = url_port(url);
    for (const bypass_entry& entry : read_entries(bypass_list)) {
        if (entry_matches(entry, scheme, host, port)) return true;
    }
    return false;
}

bool loopback_bypassed(std::string_view bypass_list, std::string_view url) {
    if (!is_loopback_host(url_host(url))) return false;
    for (const bypass_entry& entry : read_entries(bypass_list)) {
        if (entry.what == bypass_entry::kind::no_loopback_bypass) return false;
    }
    return true;
}

bool proxy_bypassed(std::string_view bypass_list, std::string_view url) {
    return loopback_bypassed(bypass_list, url) || bypass_entries_match(bypass_list, url);
}

std::vector<std::string> unclear_bypass_entries(std::string_view bypass_list) {
    std::vector<std::string> unclear;
    for (const std::string_view text : entries_of(bypass_list, "; ,\t\r\n")) {
        if (read_entry(text).what == bypass_entry::kind::unclear) unclear.emplace_back(text);
    }
    return unclear;
}

std::string url_scheme(std::string_view url) {
    const std::size_t colon = url.find("://");
    return colon == std::string_view::npos ? std::string() : lowered(url.substr(0, colon));
}

std::string url_host(std::string_view url) {
    const std::string_view authority = authority_of(url);
    if (authority.starts_with("[")) {
        const std::size_t close = authority.find(']');
        return lowered(authority.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    return lowered(authority.substr(0, authority.find(':')));
}

int url_port(std::string_view url) {
    const std::optional<std::string_view> text = port_text_of(authority_of(url));
    if (text && !text->empty()) {
        const auto port = port_number(*text);
        return port ? *port : -1;
    }
    const std::string scheme = url_scheme(url);
    if (scheme == "http") return 80;
    if (scheme == "https") return 443;
    return -1;
}

}  // namespace platform
