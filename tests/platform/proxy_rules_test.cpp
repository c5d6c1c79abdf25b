// Reading the system's proxy list and bypass list as Windows writes them,
// and the parts of an address they are matched against.
#include <gtest/gtest.h>

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

TEST(proxy_rules, bypass_list_matches_hosts) {
    struct bypass_case {
        const char* list;
        const char* host;
        bool bypassed;
    };
    const bypass_case cases[] = {
        {"<local>", "intranet", true},
        {"<local>", "update.example.com", false},
        {"*.example.com", "update.example.com", true},
        {"*.example.com", "example.com", false},
        {"*.EXAMPLE.com;10.*", "10.1.2.3", true},
        {"*.EXAMPLE.com;10.*", "Update.Example.Com", true},
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.10", false},
        {"a*b*c", "axxbyyc", true},
        {"a*b*c", "axxbyy", false},
        {"", "anything", false},
        {"*", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::proxy_bypassed(c.list, c.host), c.bypassed) << c.list << " against " << c.host;
    }
}

TEST(proxy_rules, scheme_and_host_of_an_address) {
    struct url_case {
        const char* url;
        const char* scheme;
        const char* host;
    };
    const url_case cases[] = {
        {"http://Update.Example.com:8080/soft?x=1", "http", "update.example.com"},
        {"HTTPS://user:pw@host.example/pkg.exe", "https", "host.example"},
        {"http://[::1]:80/", "http", "::1"},
        {"http://host", "http", "host"},
        {"no scheme at all", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::url_scheme(c.url), c.scheme) << c.url;
        EXPECT_EQ(platform::url_host(c.url), c.host) << c.url;
    }
}

}  // namespace
