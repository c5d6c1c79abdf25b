// One HTTP GET of a text into memory on libcurl's easy interface.
#include "update_check/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <limits>
#include <mutex>
#include <new>
#include <thread>

#include "core/rate_watch.h"
#include "core/text_utils.h"
#include "platform/proxy.h"

namespace {

constexpr int ATTEMPTS = 2;
constexpr long STATUS_OK = 200;
constexpr long DNS_CACHE_SECONDS = 259200;
// The longest wait for socket activity, so that a stop is seen promptly.
constexpr int WAIT_MS = 100;

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
    // Less than one byte per second over the stall time: nothing came.
    (void)curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    (void)curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME,
                           static_cast<long>(std::max<long long>(1, (timing.stall.count() + 999) / 1000)));
    (void)curl_easy_setopt(handle_, CURLOPT_DNS_CACHE_TIMEOUT, DNS_CACHE_SECONDS);
    (void)curl_easy_setopt(handle_, CURLOPT_FORBID_REUSE, 1L);
    // The system's proxy settings (Windows); libcurl reads the environment itself.
    const std::string proxy = platform::proxy_for_request(url);
    (void)curl_easy_setopt(handle_, CURLOPT_PROXY, proxy.empty() ? nullptr : proxy.c_str());
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
        const auto transfer = static_cast<CURLcode>(perform());
        if (cancel_requested()) return CURLE_ABORTED_BY_CALLBACK;
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

bool http_client::cancel_requested() const {
    return cancelled != nullptr && cancelled->load();
}

// curl_easy_perform through a multi handle, so that a stop is seen within
// one short wait, and the answer's rate is watched as a whole.
int http_client::perform() {
    CURLM* multi = curl_multi_init();
    if (multi == nullptr) return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi, handle_) != CURLM_OK) {
        (void)curl_multi_cleanup(multi);
        return CURLE_FAILED_INIT;
    }
    rate_watch rate(timing.min_rate_bytes, timing.rate_window);
    rate.start(rate_watch::clock::now(), 0);
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    while (!cancel_requested()) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        const CURLMsg* msg = curl_multi_info_read(multi, &left);
        if (msg != nullptr && msg->msg == CURLMSG_DONE) {
            result = msg->data.result;
            if (result == CURLE_OPERATION_TIMEDOUT) {
                debug_log("[TamsaUpdate]: update request stalled: no data for %lld ms \n",
                          static_cast<long long>(timing.stall.count()));
            }
            break;
        }
        curl_off_t received = 0;
        (void)curl_easy_getinfo(handle_, CURLINFO_SIZE_DOWNLOAD_T, &received);
        if (rate.too_slow(rate_watch::clock::now(), static_cast<std::uint64_t>(std::max<curl_off_t>(0, received)))) {
            debug_log("[TamsaUpdate]: update request stalled: %llu bytes in the last %lld ms, below %llu bytes/s \n",
                      static_cast<unsigned long long>(rate.window_bytes()),
                      static_cast<long long>(timing.rate_window.count()),
                      static_cast<unsigned long long>(timing.min_rate_bytes));
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        if (curl_multi_poll(multi, nullptr, 0, WAIT_MS, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    (void)curl_multi_remove_handle(multi, handle_);
    (void)curl_multi_cleanup(multi);
    return result;
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
