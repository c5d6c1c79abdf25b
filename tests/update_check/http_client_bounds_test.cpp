// The bounds of the update request against hosts on 127.0.0.1 that stall,
// trickle, or are stopped while they do.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/misbehaving_host.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/temp_dir.h"
#include "update_check/http_client.h"

namespace {

using namespace std::chrono_literals;
constexpr int HTTP_OK = 0;

// A host that stalls or trickles ends each attempt by itself with one line
// that names the stall; a stop ends the request at once.
TEST(http_client_bounds, stalled_answers_end_within_their_bound) {
    struct bound_case {
        const char* name;
        test_support::misbehaviour kind;
        http_timing timing;
        double cancel_after_s;  // 0: no stop
        double bound_s;         // both attempts have ended by then
        const char* line;       // in the log, once per attempt; null: none
    };
    const bound_case cases[] = {
        {"silent host",
         test_support::misbehaviour::silent,
         {10ms, 5000ms, 1000ms, 1024, 60000ms},
         0,
         6,
         "update request stalled: no data for 1000 ms"},
        {"dripped head",
         test_support::misbehaviour::drip_headers,
         {10ms, 5000ms, 1000ms, 1024, 60000ms},
         0,
         6,
         "update request stalled: no data for 1000 ms"},
        {"dripped body",
         test_support::misbehaviour::drip_body,
         {10ms, 5000ms, 5000ms, 1024, 1000ms},
         0,
         6,
         "bytes in the last 1000 ms, below 1024 bytes/s"},
        // The product's bounds: only the stop ends these.
        {"stop while silent", test_support::misbehaviour::silent, http_timing{}, 0.5, 1.0, nullptr},
        {"stop while dripping", test_support::misbehaviour::drip_body, http_timing{}, 0.5, 1.0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::misbehaving_host host(c.kind, std::string(5000, 'x'));
        test_support::temp_dir dir;
        std::atomic<bool> cancelled{false};
        http_client client;
        client.timing = c.timing;
        client.cancelled = &cancelled;
        std::thread stopper;
        std::string text;
        int result = 0;
        std::string log;
        const auto start = std::chrono::steady_clock::now();
        {
            test_support::stderr_capture capture(dir.file("log.txt"));
            if (c.cancel_after_s > 0) {
                stopper = std::thread([&cancelled, &c] {
                    std::this_thread::sleep_for(std::chrono::duration<double>(c.cancel_after_s));
                    cancelled.store(true);
                });
            }
            result = client.http_get(host.url("/soft/update/search"), text);
            capture.restore();
            log = capture.text();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - c.cancel_after_s;
        if (stopper.joinable()) stopper.join();
        host.stop();
        EXPECT_NE(result, HTTP_OK);
        EXPECT_LT(seconds, c.bound_s);
        if (c.line != nullptr) {
            std::size_t lines = 0;
            for (std::size_t at = log.find(c.line); at != std::string::npos; at = log.find(c.line, at + 1)) ++lines;
            EXPECT_EQ(lines, 2u) << log;
        } else {
            EXPECT_EQ(host.requests(), 1) << "no second attempt after a stop";
        }
    }
}

}  // namespace
