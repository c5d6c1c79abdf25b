// Tells a transfer that has slowed to a trickle: fewer than a minimum number
// of bytes per second over the last whole window. A transfer that only
// started, or that is faster, goes on.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

class rate_watch {
public:
    using clock = std::chrono::steady_clock;

    rate_watch(std::uint64_t min_bytes_per_second, std::chrono::milliseconds window);

    // Starts watching at now with bytes already counted.
    void start(clock::time_point now, std::uint64_t bytes);
    // Records the running byte count at now; true when the last full window
    // brought fewer than the minimum rate times the window. Counts that go
    // backwards (a segment fetched again) start the watch over.
    bool too_slow(clock::time_point now, std::uint64_t bytes);
    // The bytes that came in the last window, as of the last call to too_slow.
    std::uint64_t window_bytes() const { return window_bytes_; }
    std::chrono::milliseconds window() const { return window_; }
    std::uint64_t min_rate() const { return min_rate_; }

private:
    struct sample {
        clock::time_point at;
        std::uint64_t bytes;
    };
    std::uint64_t min_rate_;
    std::chrono::milliseconds window_;
    std::deque<sample> samples_;
    std::uint64_t window_bytes_ = 0;
};
