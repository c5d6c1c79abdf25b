// The rate watch on a simulated clock: a trickle over a whole window is too
// slow; a young transfer, a fast one and a burst within the window are not.
#include "core/rate_watch.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(rate_watch, judges_only_whole_windows) {
    struct step {
        std::chrono::milliseconds at;
        std::uint64_t bytes;
        bool too_slow;
    };
    struct watch_case {
        const char* name;
        std::vector<step> steps;
    };
    // 1000 bytes/s over 10 s windows: 10000 bytes a window is enough.
    const watch_case cases[] = {
        {"nothing at all", {{5000ms, 0, false}, {9999ms, 0, false}, {10000ms, 0, true}}},
        {"trickle", {{4000ms, 2000, false}, {10000ms, 9999, true}}},
        {"just enough", {{5000ms, 5000, false}, {10000ms, 10000, false}, {15000ms, 15000, false}}},
        // A fast start does not cover a later stall: the window slides.
        {"stall after a burst", {{1000ms, 50000, false}, {10500ms, 50000, false}, {11500ms, 50000, true}}},
        {"recovers", {{10000ms, 100, true}, {15000ms, 60000, false}}},
        // A segment fetched again makes the count drop: the watch starts over.
        {"count goes back",
         {{9000ms, 5000, false}, {9500ms, 100, false}, {18000ms, 9000, false}, {19600ms, 9000, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rate_watch watch(1000, 10000ms);
        const rate_watch::clock::time_point start{};
        watch.start(start, 0);
        for (const step& s : c.steps) {
            EXPECT_EQ(watch.too_slow(start + s.at, s.bytes), s.too_slow) << "at " << s.at.count() << " ms";
        }
    }
}

// The engine looks every few milliseconds while segments are paced: the
// judgement is the same as with sparse looks.
TEST(rate_watch, frequent_looks_judge_the_same) {
    struct rate_case {
        std::uint64_t bytes_per_second;
        bool too_slow;
    };
    for (const rate_case c : {rate_case{900, true}, rate_case{1100, false}}) {
        rate_watch watch(1000, 10000ms);
        const rate_watch::clock::time_point start{};
        watch.start(start, 0);
        bool judged = false;
        for (int ms = 5; ms <= 12000; ms += 5) {
            judged = watch.too_slow(start + std::chrono::milliseconds(ms), c.bytes_per_second * ms / 1000);
            if (ms < 10000) {
                EXPECT_FALSE(judged) << "judged before a whole window, at " << ms << " ms";
            }
        }
        EXPECT_EQ(judged, c.too_slow) << c.bytes_per_second << " bytes/s";
    }
}

TEST(rate_watch, a_zero_rate_never_judges) {
    rate_watch watch(0, 1000ms);
    const rate_watch::clock::time_point start{};
    watch.start(start, 0);
    EXPECT_FALSE(watch.too_slow(start + 5000ms, 0));
}

}  // namespace
