// Reading the system's proxy list and bypass list as Windows writes them,
// and the parts of an address they are matched against.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/proxy.h"

namespace {

TEST(proxy_rules, picks_the_proxy_for_the_scheme) {
    struct pick_case {
        const char* list;
        const char* scheme;
        const char* proxy;
    };
    const pick_case cases[] = {
        {"proxy.corp:8080", "http", "http://proxy.corp:8080"},
        {"proxy.corp:8080", "https", "http://proxy.corp:8080"},
        {"http=web:80;https=secure:443", "https", "http://secure:443"},
        {"http=web:80;https=secure:443", "http", "http://web:80"},
        {"HTTP=web:80 ftp=files:21", "http", "http://web:80"},
        {"ftp=files:21", "http", ""},
        {"https=secure:443;fallback:3128", "http", "http://fallback:3128"},
        {"socks5://sock:1080", "http", "socks5://sock:1080"},
        {"", "http", ""},
        {" ; ", "http", ""},
        {"http=", "http", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::pick_proxy(c.list, c.scheme), c.proxy) << c.list << " for " << c.scheme;
    }
}

// Internet Options' bypass list: entries separated by ';', ',' or blanks;
// '*' for any run of characters; an optional scheme ("https://") and port
// (":8080", the scheme's own port when the address names none); IPv6
// addresses in brackets; case ignored. "<local>" is every name without a
// dot; loopback addresses go direct unless the list says "<-loopback>".
TEST(proxy_rules, bypass_list_matches_addresses) {
    struct bypass_case {
        const char* list;
        const char* url;
        bool bypassed;
    };
    const bypass_case cases[] = {
        // Names and wildcards.
        {"<local>", "http://intranet/p", true},
        {"<local>", "http://update.example.com/p", false},
        {"*.example.com", "http://update.example.com/p", true},
        {"*.example.com", "http://example.com/p", false},
        {"example.com", "http://www.example.com/p", false},
        {"*.EXAMPLE.com;10.*", "http://10.1.2.3/p", true},
        {"*.EXAMPLE.com;10.*", "http://Update.Example.Com/p", true},
        {"a*b*c", "http://axxbyyc/p", true},
        {"a*b*c", "http://axxbyy/p", false},
        {"", "http://anything/p", false},
        {"*", "http://anything.example/p", true},
        // Separators.
        {"one.example, two.example", "http://two.example/p", true},
        {"one.example\ttwo.example", "http://two.example/p", true},
        {" ; ,", "http://two.example/p", false},
        // A port: that port only; an address without one has its scheme's.
        {"host.example:8080", "http://host.example:8080/p", true},
        {"host.example:8080", "http://host.example:9090/p", false},
        {"host.example:8080", "http://host.example/p", false},
        {"host.example:80", "http://host.example/p", true},
        {"host.example:443", "https://host.example/p", true},
        {"host.example:443", "http://host.example/p", false},
        {"*.example:8080", "http://a.example:8080/p", true},
        {"host.example", "http://host.example:8080/p", true},
        // A scheme: that scheme only.
        {"http://host.example", "http://host.example/p", true},
        {"http://host.example", "https://host.example/p", false},
        {"HTTPS://*.example.com", "https://a.example.com/p", true},
        {"https://*.example.com", "http://a.example.com/p", false},
        {"https://*.example.com:8443", "https://a.example.com:8443/p", true},
        {"https://*.example.com:8443", "https://a.example.com/p", false},
        // IPv6 in brackets, with or without a port.
        {"[fe80::1]", "http://[fe80::1]:8080/p", true},
        {"[fe80::1]:80", "http://[fe80::1]/p", true},
        {"[fe80::1]:80", "http://[fe80::1]:81/p", false},
        {"[FE80::1]", "http://[fe80:0:0:0:0:0:0:1]/p", true},
        {"[fe80::1]", "http://[fe80::2]/p", false},
        {"http://[fe80::1]:80", "http://[fe80::1]/p", true},
        {"fe80::1", "http://[fe80::1]/p", true},
        // Entries that say nothing clear match nothing; the others still count.
        {"host.example:port;other.example", "http://host.example/p", false},
        {"host.example:port;other.example", "http://other.example/p", true},
        {"[fe80::1;x.example", "http://[fe80::1]/p", false},
        {"10.0.0.0/8", "http://10.1.2.3/p", false},
        {"host.example:99999", "http://host.example:99999/p", false},
        {"://host.example", "http://host.example/p", false},
        {"<intranet>", "http://intranet/p", false},
        // Loopback goes direct as on Windows, whatever the list says ...
        {"", "http://127.0.0.1:8080/p", true},
        {"", "http://localhost/p", true},
        {"", "http://LocalHost:8080/p", true},
        {"", "http://loopback/p", true},
        {"", "http://[::1]:8080/p", true},
        {"", "http://[0:0:0:0:0:0:0:1]/p", true},
        {"", "http://[::ffff:127.0.0.1]/p", true},
        {"", "http://127.0.0.2/p", true},
        {"", "http://127.255.255.254/p", true},
        {"*.example.com", "https://127.0.0.1/p", true},
        {"", "http://128.0.0.1/p", false},
        {"", "http://127.0.0.1.example.com/p", false},
        {"", "http://localhost.example.com/p", false},
        {"", "http://[::2]/p", false},
        {"", "http://[fe80::1]/p", false},
        // ... unless it says <-loopback>; then its entries decide.
        {"<-loopback>", "http://127.0.0.1/p", false},
        {"<-LOOPBACK>", "http://localhost/p", false},
        {"<-loopback>", "http://[::1]/p", false},
        {"<-loopback>;<local>", "http://localhost/p", true},
        {"<-loopback>;<local>", "http://127.0.0.1/p", false},
        {"<-loopback> 127.0.0.1:8080", "http://127.0.0.1:8080/p", true},
        {"<-loopback> 127.0.0.1:8080", "http://127.0.0.1:8081/p", false},
        {"<-loopback>;[::1]", "http://[::1]:8080/p", true},
        // <local> is about names, not addresses.
        {"<local>", "http://[fe80::1]/p", false},
        // No host, nothing to match.
        {"*", "no address at all", false},
        {"*", "http:///p", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::proxy_bypassed(c.list, c.url), c.bypassed) << "\"" << c.list << "\" against " << c.url;
    }
}

// The entries a bypass list holds that say nothing clear, for the log.
TEST(proxy_rules, unclear_bypass_entries_are_named) {
    struct unclear_case {
        const char* list;
        std::vector<std::string> unclear;
    };
    const unclear_case cases[] = {
        {"<local>;*.example.com;[::1]:80;https://host:443;<-loopback>", {}},
        {"host:port; 10.0.0.0/8,[fe80::1 ok.example", {"host:port", "10.0.0.0/8", "[fe80::1"}},
        {"<nonsense>;host:0;host:65536", {"<nonsense>", "host:0", "host:65536"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::unclear_bypass_entries(c.list), c.unclear) << c.list;
    }
}

// The environment names a proxy for a scheme as libcurl reads it: the
// scheme's own variable, else all_proxy; empty when it names none.
TEST(proxy_rules, the_environment_names_a_proxy_per_scheme) {
    struct environment_case {
        platform::proxy_variables variables;
        const char* scheme;
        const char* proxy;
    };
    const environment_case cases[] = {
        {{"", "s:1", ""}, "https", "s:1"},       {{"", "s:1", ""}, "http", ""},
        {{"h:1", "", ""}, "http", "h:1"},        {{"h:1", "", ""}, "https", ""},
        {{"", "", "a:1"}, "http", "a:1"},        {{"", "", "a:1"}, "https", "a:1"},
        {{"h:1", "", "a:1"}, "http", "h:1"},     {{"h:1", "", "a:1"}, "https", "a:1"},
        {{"h:1", "s:1", "a:1"}, "https", "s:1"}, {{"", "", ""}, "http", ""},
        {{"", "", "a:1"}, "ftp", "a:1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::environment_proxy(c.variables, c.scheme), c.proxy)
            << "http=" << c.variables.http << " https=" << c.variables.https << " all=" << c.variables.all << " for "
            << c.scheme;
    }
}

TEST(proxy_rules, scheme_host_and_port_of_an_address) {
    struct url_case {
        const char* url;
        const char* scheme;
        const char* host;
        int port;  // -1: none
    };
    const url_case cases[] = {
        {"http://Update.Example.com:8080/soft?x=1", "http", "update.example.com", 8080},
        {"HTTPS://user:pw@host.example/pkg.exe", "https", "host.example", 443},
        {"http://host.example?x=1", "http", "host.example", 80},
        {"http://[::1]:80/", "http", "::1", 80},
        {"http://[FE80::1]/", "http", "fe80::1", 80},
        {"https://[fe80::1]:8443", "https", "fe80::1", 8443},
        {"http://host", "http", "host", 80},
        {"ftp://host/", "ftp", "host", -1},
        {"http://host:/", "http", "host", 80},
        {"http://host:99999/", "http", "host", -1},
        {"http://host:8x/", "http", "host", -1},
        {"no scheme at all", "", "", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::url_scheme(c.url), c.scheme) << c.url;
        EXPECT_EQ(platform::url_host(c.url), c.host) << c.url;
        EXPECT_EQ(platform::url_port(c.url), c.port) << c.url;
    }
}

}  // namespace
