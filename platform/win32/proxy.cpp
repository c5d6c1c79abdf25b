// Proxies on Windows: the current user's proxy settings through WinHTTP's own
// functions. An automatic configuration script, or automatic detection, is
// asked first, on a thread of its own that the request waits for at most
// SCRIPT_BOUND (WinHTTP's own timeouts for fetching the script can be far
// longer, and a script host that accepts and never answers held a request
// up for minutes); a fixed proxy and its bypass list come next. The answer
// for an address is kept for a minute, so the segments of one download ask
// once.
#include "platform/proxy.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/debug_output.h"
#include "platform/text.h"

namespace platform {

namespace {

// The longest that resolving, connecting, sending and receiving may each
// take while the configuration script is fetched.
constexpr int SCRIPT_TIMEOUT_MS = 5000;
// The longest a request waits for the script's answer as a whole.
constexpr auto SCRIPT_BOUND = std::chrono::milliseconds(SCRIPT_TIMEOUT_MS);
constexpr auto KEEP_ANSWER = std::chrono::seconds(60);
constexpr auto CANCEL_POLL = std::chrono::milliseconds(50);

std::string narrow(const wchar_t* text) {
    return text == nullptr ? std::string() : wide_to_utf8(text);
}

void free_text(wchar_t* text) {
    if (text != nullptr) (void)::GlobalFree(text);
}

struct proxy_choice {
    bool decided = false;  // false: nothing said, ask the next source
    std::string proxy;     // empty: direct
};

// Loopback addresses are left to the caller: it applies the user's own
// bypass list's word on them to a script's answer as well.
proxy_choice choose(const std::string& url, const std::string& list, const std::string& bypass) {
    proxy_choice choice{true, {}};
    if (list.empty() || bypass_entries_match(bypass, url)) return choice;
    choice.proxy = pick_proxy(list, url_scheme(url));
    return choice;
}

void log_unclear_entries(const std::string& bypass) {
    for (const std::string& entry : unclear_bypass_entries(bypass)) {
        debug_output("[TamsaUpdate]: proxy bypass entry \"" + entry + "\" is not understood; it is left out");
    }
}

// script_url empty: automatic detection.
proxy_choice from_script(const std::string& url, const std::wstring& script_url) {
    HINTERNET session =
        ::WinHttpOpen(L"TamsaUpdate", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) return {};
    (void)::WinHttpSetTimeouts(session, SCRIPT_TIMEOUT_MS, SCRIPT_TIMEOUT_MS, SCRIPT_TIMEOUT_MS, SCRIPT_TIMEOUT_MS);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (!script_url.empty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = script_url.c_str();
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    proxy_choice choice;
    const std::wstring wide_url = utf8_to_wide(url);
    if (::WinHttpGetProxyForUrl(session, wide_url.c_str(), &options, &info)) {
        choice.decided = true;
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
            choice = choose(url, narrow(info.lpszProxy), narrow(info.lpszProxyBypass));
        }
        free_text(info.lpszProxy);
        free_text(info.lpszProxyBypass);
    }
    (void)::WinHttpCloseHandle(session);
    return choice;
}

// The script's answer, waited for at most SCRIPT_BOUND, or until *cancelled:
// past that the lookup goes on alone (its thread owns everything it uses)
// and the request takes the fixed settings.
proxy_choice from_script_bounded(const std::string& url, const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config,
                                 const std::atomic<bool>* cancelled) {
    if (!config.fAutoDetect && config.lpszAutoConfigUrl == nullptr) return {};
    struct lookup {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
        proxy_choice choice;
    };
    auto shared = std::make_shared<lookup>();
    std::wstring script_url = config.lpszAutoConfigUrl != nullptr ? config.lpszAutoConfigUrl : L"";
    const char* what = script_url.empty() ? "automatic proxy detection" : "proxy configuration script";
    try {
        std::thread([shared, url, script_url = std::move(script_url)] {
            proxy_choice choice = from_script(url, script_url);
            std::lock_guard<std::mutex> guard(shared->lock);
            shared->choice = std::move(choice);
            shared->done = true;
            shared->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return {};  // no thread to spare: the fixed settings
    }
    std::unique_lock<std::mutex> guard(shared->lock);
    const auto deadline = std::chrono::steady_clock::now() + SCRIPT_BOUND;
    while (!shared->done && std::chrono::steady_clock::now() < deadline) {
        if (cancelled != nullptr && cancelled->load()) return {};  // the request is being stopped
        (void)shared->finished.wait_for(guard, CANCEL_POLL);
    }
    if (!shared->done) {
        debug_output("[TamsaUpdate]: " + std::string(what) + " for " + url_host(url) + ": no answer within " +
                     std::to_string(SCRIPT_TIMEOUT_MS / 1000) + " s; the fixed proxy settings are used");
        return {};
    }
    return shared->choice;
}

// Windows sends loopback addresses direct whatever a script or the fixed
// settings say, unless the user's bypass list says "<-loopback>": a
// configuration script from the network (automatic detection) must not
// draw this machine's own services through a proxy.
std::string system_proxy_for(const std::string& url, const std::atomic<bool>* cancelled) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return {};
    const std::string bypass = narrow(config.lpszProxyBypass);
    proxy_choice choice{true, {}};
    if (!loopback_bypassed(bypass, url)) {
        choice = from_script_bounded(url, config, cancelled);
        if (!choice.decided) {
            log_unclear_entries(bypass);
            choice = choose(url, narrow(config.lpszProxy), bypass);
        }
    }
    free_text(config.lpszAutoConfigUrl);
    free_text(config.lpszProxy);
    free_text(config.lpszProxyBypass);
    return choice.proxy;
}

struct kept_answer {
    std::chrono::steady_clock::time_point at;
    std::string proxy;
};

std::mutex answers_lock;
std::map<std::string, kept_answer> answers;

}  // namespace

// A variable naming a proxy for the request's scheme decides (libcurl reads
// it, and no_proxy with it); the other scheme keeps the system's proxy.
std::string proxy_for_request(const std::string& url, const std::atomic<bool>* cancelled) {
    if (!environment_proxy(proxy_variables_of_environment(), url_scheme(url)).empty()) return {};
    // A bypass entry can name a port: the answer is the address's, port included.
    const std::string key = url_scheme(url) + "://" + url_host(url) + ":" + std::to_string(url_port(url));
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(answers_lock);
        const auto found = answers.find(key);
        if (found != answers.end() && now - found->second.at < KEEP_ANSWER) return found->second.proxy;
    }
    std::string proxy = system_proxy_for(url, cancelled);
    if (cancelled != nullptr && cancelled->load()) return proxy;  // perhaps cut short: not kept
    std::lock_guard<std::mutex> guard(answers_lock);
    answers[key] = {now, proxy};
    return proxy;
}

}  // namespace platform
