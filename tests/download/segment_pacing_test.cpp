// The pacing of the segments against the digest, on a simulated clock: four
// segments that grow at given rates, and a digest that reads the contiguous
// prefix at its own speed.
#include "download/segment_pacing.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace std::chrono_literals;
constexpr std::uint64_t MIB = 1u << 20;

// Four 64 MiB segments and a digest, advanced in 1 ms steps. A segment that
// the pacing holds receives nothing; the others receive their rate, and the
// frontier also what the held ones would have had when the link is shared.
struct simulation {
    segment_pacing pacing;
    segment_pacing::clock::time_point now{};
    std::vector<segment_pacing::segment> segments =
        std::vector<segment_pacing::segment>(4, segment_pacing::segment{0, 64 * MIB});
    std::uint64_t digested = 0;
    segment_pacing::clock::duration busy{};
    std::uint64_t per_connection_per_ms = 0;  // each connection's bytes per ms
    bool shared_link = false;                 // held connections' share goes to the others
    std::uint64_t digest_per_ms = 0;
    int held_steps = 0;
    std::vector<int> held_steps_of = std::vector<int>(4, 0);

    std::uint64_t prefix() const {
        std::uint64_t bytes = 0;
        for (const auto& s : segments) {
            bytes += s.arrived;
            if (s.arrived < s.expected) break;
        }
        return bytes;
    }
    bool done() const { return digested == 256 * MIB; }

    void step() {
        pacing.update(now, segments, digested, busy);
        std::size_t running = 0;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            if (segments[i].arrived < segments[i].expected && !pacing.holds(i)) ++running;
        }
        const std::size_t unfinished = static_cast<std::size_t>(
            std::count_if(segments.begin(), segments.end(), [](const auto& s) { return s.arrived < s.expected; }));
        const std::uint64_t share =
            shared_link && running > 0 ? per_connection_per_ms * unfinished / running : per_connection_per_ms;
        held_steps += pacing.holding() ? 1 : 0;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            auto& s = segments[i];
            if (s.arrived >= s.expected) continue;
            if (pacing.holds(i)) {
                ++held_steps_of[i];
                continue;
            }
            s.arrived = std::min(s.expected, s.arrived + share);
        }
        const std::uint64_t readable = prefix() - digested;
        const std::uint64_t read = std::min(readable, digest_per_ms);
        digested += read;
        if (read > 0) busy += std::chrono::microseconds(1000 * read / digest_per_ms);
        now += 1ms;
    }

    int run(int most_steps) {
        int steps = 0;
        while (!done() && steps < most_steps) {
            step();
            ++steps;
        }
        return steps;
    }
};

TEST(segment_pacing, later_segments_wait_only_when_the_package_outruns_the_digest) {
    struct pacing_case {
        const char* name;
        std::uint64_t per_connection_per_ms;
        bool shared_link;
        std::uint64_t digest_per_ms;
        bool waits;
        bool gives_up;
    };
    const pacing_case cases[] = {
        // 8 MiB/s per connection against a 500 MB/s digest: the digest always keeps up.
        {"slow per connection", 8 * MIB / 1000, false, 500000, false, false},
        // A shared 1.6 GB/s link: holding three connections gives the first one all of it.
        {"fast shared link", 400000, true, 500000, true, false},
        // Fast, but each connection is limited: the first alone stays behind the digest.
        {"fast but capped per connection", 300000, false, 500000, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        simulation sim;
        sim.per_connection_per_ms = c.per_connection_per_ms;
        sim.shared_link = c.shared_link;
        sim.digest_per_ms = c.digest_per_ms;
        const int steps = sim.run(100000);
        ASSERT_TRUE(sim.done()) << "the package was never wholly digested";
        EXPECT_EQ(sim.held_steps > 0, c.waits) << sim.held_steps << " steps held";
        EXPECT_EQ(sim.pacing.given_up(), c.gives_up);
        // The segment the digest reads is never the one held back.
        EXPECT_EQ(sim.held_steps_of[0], 0);
        if (c.gives_up) {
            // One wait of at most the longest wait, then none.
            EXPECT_LE(sim.held_steps,
                      1 + std::chrono::duration_cast<std::chrono::milliseconds>(segment_pacing::longest_wait).count());
        }
        if (c.waits && !c.gives_up) {
            // Waiting let the digest run from the start: the whole package at its speed, plus a little.
            EXPECT_LT(steps, static_cast<int>(256 * MIB / c.digest_per_ms) + 30);
        }
    }
}

TEST(segment_pacing, a_wait_ends_when_the_frontier_has_pulled_ahead_or_finished) {
    segment_pacing pacing;
    segment_pacing::clock::time_point t{};
    std::vector<segment_pacing::segment> segments(4, segment_pacing::segment{0, 16 * MIB});
    // Time passes; the pacing then sees the segments and the digest's figures.
    const auto after = [&](std::chrono::milliseconds elapsed, std::uint64_t digested, std::chrono::milliseconds busy) {
        t += elapsed;
        pacing.update(t, segments, digested, busy);
    };
    // The digest has measured its speed (2 MiB in 4 ms) and caught up; the
    // package arrives at 16 MiB per 5 ms, faster than that.
    after(0ms, 0, 0ms);
    for (auto& s : segments) s.arrived = 4 * MIB;
    segments[0].arrived = 2 * MIB;
    after(5ms, 2 * MIB, 4ms);
    ASSERT_TRUE(pacing.holding());
    EXPECT_FALSE(pacing.holds(0));
    EXPECT_TRUE(pacing.holds(1));
    EXPECT_TRUE(pacing.holds(3));

    // Still within reach of the digest: the wait goes on.
    segments[0].arrived = 6 * MIB;
    after(1ms, 2 * MIB, 4ms);
    EXPECT_TRUE(pacing.holding());

    // Eight MiB ahead of the digest: the others go on.
    segments[0].arrived = 10 * MIB;
    after(1ms, 2 * MIB, 4ms);
    EXPECT_FALSE(pacing.holding());
    EXPECT_FALSE(pacing.given_up());

    // The others arrive fast while the digest catches up again: a new wait,
    // which the frontier's finishing ends.
    for (std::size_t i = 1; i < segments.size(); ++i) segments[i].arrived += 8 * MIB;
    after(5ms, 10 * MIB, 20ms);
    ASSERT_TRUE(pacing.holding());
    segments[0].arrived = 16 * MIB;
    after(1ms, 10 * MIB, 20ms);
    EXPECT_FALSE(pacing.holding());
    EXPECT_FALSE(pacing.holds(1));
}

TEST(segment_pacing, nothing_waits_without_a_measured_digest_or_a_later_segment) {
    struct quiet_case {
        const char* name;
        std::uint64_t digested;
        std::chrono::milliseconds busy;
        std::size_t frontier;  // the segments before it are complete
    };
    const quiet_case cases[] = {
        {"the digest has read too little to tell its speed", 64 * 1024, 1ms, 0},
        {"the digest has not started", 0, 0ms, 0},
        {"the frontier is the last segment", 3 * 16 * MIB + 1 * MIB, 100ms, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        segment_pacing pacing;
        segment_pacing::clock::time_point t{};
        std::vector<segment_pacing::segment> segments(4, segment_pacing::segment{0, 16 * MIB});
        for (std::size_t i = 0; i < c.frontier; ++i) segments[i].arrived = 16 * MIB;
        pacing.update(t, segments, c.digested, c.busy);
        // A burst far faster than any digest, with the digest right behind the frontier.
        for (auto& s : segments) s.arrived = std::min<std::uint64_t>(s.expected, s.arrived + 8 * MIB);
        t += 5ms;
        pacing.update(t, segments, c.digested, c.busy);
        t += 1ms;
        pacing.update(t, segments, c.digested, c.busy);
        EXPECT_FALSE(pacing.holding());
    }
}

}  // namespace
