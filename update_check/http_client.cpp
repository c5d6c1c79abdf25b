// One HTTP GET of a text into memory on libcurl's easy interface.
#include "update_check/http_client.h"

#include <curl/curl.h>

#include <limits>
#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr int ATTEMPTS = 2;
constexpr long STATUS_OK = 200;
constexpr long DNS_CACHE_SECONDS = 259200;

// Cookies of the last successful answer, handed to every later request.
std::mutex cookie_lock;
std::vector<std::string> saved_cookies;

std::mutex timing_lock;
http_timing process_timing;

// Hands the saved cookies to the handle, or erases the handle's cookies
// when nothing is saved, so that a request never sends stale cookies.
void load_saved_cookies(CURL* handle) {
    std::lock_guard<std::mutex> guard(cookie_lock);
    if (saved_cookies.empty()) {
        // Result deliberately not examined: a failure leaves the request cookieless anyway.
        (void)curl_easy_setopt(handle, CURLOPT_COOKIELIST, "ALL");
        return;
    }
    for (const std::string& line : saved_cookies) {
        (void)curl_easy_setopt(handle, CURLOPT_COOKIELIST, line.c_str());
    }
}

}  // namespace

http_timing default_http_timing() {
    std::lock_guard<std::mutex> guard(timing_lock);
    return process_timing;
}

void set_default_http_timing(const http_timing& timing) {
    std::lock_guard<std::mutex> guard(timing_lock);
    process_timing = timing;
}

http_client::http_client() : timing(default_http_timing()) {}

http_client::~http_client() {
    if (handle_ != nullptr) curl_easy_cleanup(handle_);
}

// The options of every request, in a fixed order. Their results are not
// examined: an option that does not take shows up as a failed transfer.
void http_client::set_options(const std::string& url, std::string& response) {
    (void)curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    (void)curl_easy_setopt(handle_, CURLOPT_COOKIEFILE, "");
    load_saved_cookies(handle_);
    (void)curl_easy_setopt(handle_, CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
    (void)curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &append_response_text);
    (void)curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &response);
    (void)curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    (void)curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, 0L);
    (void)curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, 0L);
    (void)curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timing.connect_timeout.count()));
    (void)curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, static_cast<long>(timing.transfer_timeout.count()));
    (void)curl_easy_setopt(handle_, CURLOPT_DNS_CACHE_TIMEOUT, DNS_CACHE_SECONDS);
    (void)curl_easy_setopt(handle_, CURLOPT_FORBID_REUSE, 1L);
}

// Each attempt starts from the caller's text as it was, so a failed
// attempt's body (an error page) never stands in front of a later answer;
// after a failed request the text ends with the last attempt's body.
int http_client::http_get(const std::string& url, std::string& response) {
    if (handle_ == nullptr) handle_ = curl_easy_init();
    if (handle_ == nullptr) return CURLE_FAILED_INIT;
    set_options(url, response);
    const std::size_t kept = response.size();
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        response.resize(kept);
        // A transfer that broke off (time-out, connection lost, short body)
        // fails even when its status line said 200: its body is incomplete.
        const CURLcode transfer = curl_easy_perform(handle_);
        long status = 0;
        const CURLcode info = curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
        if (transfer == CURLE_OK && info == CURLE_OK && status == STATUS_OK) {
            save_cookies();
            return CURLE_OK;
        }
        std::this_thread::sleep_for(timing.retry_wait);
    }
    return CURLE_HTTP_RETURNED_ERROR;
}

// Keeps the cookies the handle holds after a successful answer for every
// later request of the process.
void http_client::save_cookies() {
    std::lock_guard<std::mutex> guard(cookie_lock);
    curl_slist* cookies = nullptr;
    if (curl_easy_getinfo(handle_, CURLINFO_COOKIELIST, &cookies) != CURLE_OK) return;
    if (cookies != nullptr) {
        saved_cookies.clear();
        for (const curl_slist* line = cookies; line != nullptr; line = line->next) {
            saved_cookies.emplace_back(line->data);
        }
    }
    curl_slist_free_all(cookies);
}

std::size_t append_response_text(char* data, std::size_t size, std::size_t count, void* userdata) {
    constexpr std::size_t ABORT = std::numeric_limits<std::size_t>::max();
    auto* response = static_cast<std::string*>(userdata);
    if (response == nullptr || data == nullptr || size == 0 || count == 0) return ABORT;
    if (count > ABORT / size) return ABORT;
    const std::size_t bytes = size * count;
    // An exception must not cross libcurl; a text that cannot grow ends the transfer.
    try {
        response->append(data, bytes);
    } catch (const std::exception&) {
        return ABORT;
    }
    return bytes;
}

std::vector<std::string> saved_cookie_lines() {
    std::lock_guard<std::mutex> guard(cookie_lock);
    return saved_cookies;
}

void clear_saved_cookies() {
    std::lock_guard<std::mutex> guard(cookie_lock);
    saved_cookies.clear();
}
