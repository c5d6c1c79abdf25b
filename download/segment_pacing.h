// Which segments wait, so the digest is not kept short of bytes.
//
// The digest can only read the package's contiguous prefix, which grows with
// the first unfinished segment (the frontier). When the package arrives
// faster than it can be digested, and the digest has nearly caught up with
// the frontier, the later segments wait briefly so that the bytes the digest
// needs next arrive first; on a shared link (or a busy processor) that moves
// the digest forward without slowing the whole. A host that is slow per
// connection arrives slower than the digest reads, so nothing ever waits; and
// a wait that does not let the frontier pull ahead is ended for good.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

class segment_pacing {
public:
    using clock = std::chrono::steady_clock;

    // One segment as the pacing sees it.
    struct segment {
        std::uint64_t arrived = 0;   // bytes of the segment on disk, from its start
        std::uint64_t expected = 0;  // its length
    };

    // The lead below which the later segments wait, and the one at which they go on.
    static constexpr std::uint64_t low_lead_bytes = 4u << 20;
    static constexpr std::uint64_t high_lead_bytes = 8u << 20;
    // A wait that does not bring the lead up to high_lead_bytes within this ends for good.
    static constexpr clock::duration longest_wait = std::chrono::milliseconds(50);
    // The shortest span over which the arrival rate is measured.
    static constexpr clock::duration rate_window = std::chrono::milliseconds(5);

    // Takes the state at now: the segments in package order, the bytes the
    // digest has read from the package's start and the time it spent on them.
    void update(clock::time_point now, const std::vector<segment>& segments, std::uint64_t digested,
                clock::duration digest_busy);

    // True when segment index should not receive now.
    bool holds(std::size_t index) const { return holding_ && index > frontier_; }
    bool holding() const { return holding_; }
    // No more waits in this attempt: one did not help.
    bool given_up() const { return given_up_; }

private:
    void release(clock::time_point now, std::uint64_t arrived);

    bool holding_ = false;
    bool given_up_ = false;
    std::size_t frontier_ = 0;
    clock::time_point hold_start_;
    // The running arrival measurement, taken only while nothing waits.
    bool window_open_ = false;
    clock::time_point window_start_;
    std::uint64_t window_bytes_ = 0;
    double arrival_per_s_ = 0;  // 0 until measured
};
