// One HTTP GET of a text into memory, with two attempts and the cookie
// store that all requests of the process share.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The waits and limits of a request. The defaults are the product's values;
// tests shorten them so that no test waits minutes.
struct http_timing {
    std::chrono::milliseconds retry_wait{50};
    std::chrono::milliseconds connect_timeout{30000};
    // A request that brings no byte for this long fails.
    std::chrono::milliseconds stall{30000};
    // A request slower than min_rate_bytes per second over rate_window fails.
    std::uint64_t min_rate_bytes = 1024;
    std::chrono::milliseconds rate_window{60000};
};

// The timing that new clients take; process-wide.
http_timing default_http_timing();
void set_default_http_timing(const http_timing& timing);

class http_client {
public:
    http_client();
    ~http_client();
    http_client(const http_client&) = delete;
    http_client& operator=(const http_client&) = delete;

    // GETs url and appends the body of its last attempt to response:
    // 0 (CURLE_OK) after a complete answer with status 200, 2
    // (CURLE_FAILED_INIT) when no handle could be made, 22
    // (CURLE_HTTP_RETURNED_ERROR) when neither of two attempts succeeded.
    int http_get(const std::string& url, std::string& response);

    http_timing timing;
    // When set, a request under way gives up within a tenth of a second or so
    // of it becoming true, and no further attempt is made.
    const std::atomic<bool>* cancelled = nullptr;

private:
    void set_options(const std::string& url, std::string& response);
    void save_cookies();
    int perform();
    bool cancel_requested() const;

    // The libcurl easy handle of the request under way, opaque to callers.
    void* handle_ = nullptr;
};

// libcurl's write callback: appends the received bytes to the std::string
// that userdata points at; returns all ones (abort) for a null text or data
// or no bytes.
std::size_t append_response_text(char* data, std::size_t size, std::size_t count, void* userdata);

// The process-wide cookie lines (Netscape cookie-file format) that the next
// request sends; a copy, for inspection.
std::vector<std::string> saved_cookie_lines();
// Forgets every saved cookie, as at program start.
void clear_saved_cookies();
