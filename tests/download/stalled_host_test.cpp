// Attempts against hosts that stall, drip or answer with a web page: each
// ends by itself within its bound with a log line that says why, a stop ends
// it at once in every phase, and a retry after a stall resumes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "download/segment_downloader.h"
#include "download_test_support.h"
#include "tests/support/misbehaving_host.h"
#include "tests/support/stderr_capture.h"

namespace {

using namespace download_test;
using test_support::misbehaving_host;
using test_support::misbehaviour;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

struct outcome {
    bool ok = false;
    double seconds = 0;
    std::string log;
    std::string package;
    std::uint64_t resumed = 0;
};

// One attempt at the host's package with the given bounds; cancel_after,
// when positive, sets the stop flag that long after the start.
outcome attempt_at(misbehaving_host& host, const std::string& name, const std::string& target, transfer_limits limits,
                   double cancel_after = 0) {
    std::atomic<bool> cancelled{false};
    std::atomic<bool> paused{false};
    temp_dir log_dir;
    outcome got;
    std::thread stopper;
    {
        test_support::stderr_capture capture(log_dir.file("log.txt"));
        const auto start = clock_type::now();
        if (cancel_after > 0) {
            stopper = std::thread([&cancelled, cancel_after] {
                std::this_thread::sleep_for(std::chrono::duration<double>(cancel_after));
                cancelled.store(true);
            });
        }
        {
            segment_downloader engine(host.url("/files/" + name), host.url("/files/" + name), target, 0,
                                      download_flags{&paused, &cancelled}, limits);
            got.ok = engine.download();
            got.resumed = engine.resumed_bytes();
        }
        got.seconds = seconds_since(start) - cancel_after;
        if (stopper.joinable()) stopper.join();
        capture.restore();
        got.log = capture.text();
    }
    got.package = read_file(target);
    return got;
}

// Bounds of a few seconds, so the suite does not wait the product's minutes.
transfer_limits quick_limits(long stall_s, long rate_window_s) {
    transfer_limits limits;
    limits.connect_timeout_s = 5;
    limits.stall_s = stall_s;
    limits.min_rate_bytes = 1024;
    limits.rate_window_s = rate_window_s;
    return limits;
}

TEST(stalled_host, attempt_ends_within_its_bound_and_names_the_cause) {
    struct host_case {
        const char* name;
        misbehaviour kind;
        transfer_limits limits;
        double bound_s;     // the attempt must have failed by then
        const char* cause;  // in the log
    };
    const host_case cases[] = {
        // Accepts, then sends nothing: the size probe stalls and the attempt ends there.
        {"silent host", misbehaviour::silent, quick_limits(1, 60), 6, "size probe of"},
        // The response head trickles in: as good as nothing.
        {"dripped headers", misbehaviour::drip_headers, quick_limits(1, 60), 6, "stalled: no answer for 1 s"},
        // 2.5 bytes a second keeps each connection alive but the package never comes.
        {"dripped body", misbehaviour::drip_body, quick_limits(10, 2), 8, "stalled: "},
        // A captive portal's login page, to the probe and to every range.
        {"login page", misbehaviour::html_page, quick_limits(5, 60), 3, "with a web page, not the package"},
        {"redirect to a login page", misbehaviour::redirect_to_html, quick_limits(5, 60), 3,
         "with a web page, not the package"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        misbehaving_host host(c.kind, package_bytes(100000));
        temp_dir dir;
        const std::string name = unique_package_name("stall");
        const outcome got = attempt_at(host, name, dir.file(name), c.limits);
        host.stop();
        EXPECT_FALSE(got.ok);
        EXPECT_LT(got.seconds, c.bound_s);
        EXPECT_NE(got.log.find(c.cause), std::string::npos) << got.log;
        // Nothing broken looks like a package.
        EXPECT_EQ(got.package.size(), 0u);
        if (c.kind == misbehaviour::html_page || c.kind == misbehaviour::redirect_to_html) {
            EXPECT_TRUE(leftover_parts(name).empty());
        }
        for (const std::string& part : leftover_parts(name)) std::filesystem::remove(part);
    }
}

// The drip ends the first attempt; the host then recovers and the retry asks
// only for what the parts lack, giving the package byte for byte.
TEST(stalled_host, retry_after_a_stall_resumes_from_the_held_bytes) {
    const std::string body = package_bytes(40000, 11);
    misbehaving_host host(misbehaviour::drip_body, body, std::chrono::milliseconds(50));
    temp_dir dir;
    const std::string name = unique_package_name("stall_retry");
    const std::string target = dir.file(name);

    const outcome first = attempt_at(host, name, target, quick_limits(10, 1));
    ASSERT_FALSE(first.ok);
    EXPECT_NE(first.log.find("stalled"), std::string::npos) << first.log;
    EXPECT_EQ(leftover_parts(name).size(), 4u) << "the dripped bytes are kept for the retry";

    host.set_kind(misbehaviour::healthy);
    const std::size_t asked_before = host.ranges_asked().size();
    const outcome second = attempt_at(host, name, target, quick_limits(10, 60));
    EXPECT_TRUE(second.ok) << second.log;
    EXPECT_GT(second.resumed, 0u);
    EXPECT_TRUE(second.package == body) << "package of " << second.package.size() << " bytes";
    // No range of the retry starts where a fresh segment would.
    const std::vector<std::string> asked = host.ranges_asked();
    const auto plan = plan_segments(body.size(), 4);
    for (std::size_t i = asked_before; i < asked.size(); ++i) {
        for (const auto& range : plan) {
            EXPECT_NE(asked[i], "bytes=" + range_text(range)) << "segment fetched again from its start";
        }
    }
    EXPECT_TRUE(leftover_parts(name).empty());
}

// A stop takes effect within a second whatever the attempt is waiting for.
TEST(stalled_host, stop_ends_every_phase_within_a_second) {
    struct phase_case {
        const char* name;
        misbehaviour kind;
    };
    const phase_case cases[] = {
        {"size probe with no answer", misbehaviour::silent},
        {"size probe with a dripped head", misbehaviour::drip_headers},
        {"segments dripping", misbehaviour::drip_body},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        misbehaving_host host(c.kind, package_bytes(100000));
        temp_dir dir;
        const std::string name = unique_package_name("stop");
        // The product's own bounds: only the stop can end these attempts early.
        const outcome got = attempt_at(host, name, dir.file(name), transfer_limits{}, 1.0);
        host.stop();
        EXPECT_FALSE(got.ok);
        EXPECT_LT(got.seconds, 1.0) << "the stop took " << got.seconds << " s";
        EXPECT_TRUE(leftover_parts(name).empty()) << "a stopped attempt keeps no parts";
    }
}

// The end of the program sets the stop flag and joins the worker: on a host
// that never answers, with the product's own bounds, the join still ends
// within a second, whichever phase the worker is in.
TEST(stalled_host, worker_joins_within_a_second_of_the_stop) {
    const misbehaviour kinds[] = {misbehaviour::silent, misbehaviour::drip_body};
    for (const misbehaviour kind : kinds) {
        cancel_flag_reset reset;
        misbehaving_host host(kind, package_bytes(100000));
        const std::string name = unique_package_name("worker_stop");
        task_fixture fixture;
        fixture.task.package_url = host.url("/files/" + name);
        fixture.task.start_download(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const auto start = clock_type::now();
        g_update_cancelled.store(true);
        ASSERT_TRUE(fixture.task.worker_thread.joinable());
        fixture.task.worker_thread.join();
        EXPECT_LT(seconds_since(start), 1.0) << "kind " << static_cast<int>(kind);
        EXPECT_EQ(fixture.task.package_state.load(), package_failed);
        host.stop();
        std::filesystem::remove(module_dir() + name);
        EXPECT_TRUE(leftover_parts(name).empty());
    }
}

}  // namespace
