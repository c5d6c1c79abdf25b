// Linked into every test program that talks to servers on 127.0.0.1: a proxy
// named in the environment (http_proxy, https_proxy, all_proxy) must never
// stand between the tests and their own servers. libcurl, in the test program
// and in the programs it starts, goes direct to the hosts named in no_proxy.
#include <cstdlib>
#include <initializer_list>

namespace {

struct loopback_only {
    loopback_only() {
        for (const char* name : {"no_proxy", "NO_PROXY"}) {
            // A failure leaves the proxy in place; the tests then say so by failing.
#ifdef _WIN32
            (void)_putenv_s(name, "127.0.0.1,localhost,::1");
#else
            (void)setenv(name, "127.0.0.1,localhost,::1", 1);
#endif
        }
    }
};

const loopback_only LOOPBACK_ONLY;

}  // namespace
