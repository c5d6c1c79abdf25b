// The byte ranges of a segmented download and the scaling of its progress.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One segment's inclusive byte range.
struct segment_range {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::uint64_t length() const { return static_cast<std::uint64_t>(last - first + 1); }
    friend bool operator==(const segment_range&, const segment_range&) = default;
};

// Splits total_size bytes into segment_count ranges, the remainder of the
// division going to the last one. Empty when the size is unknown (0) or
// smaller than the number of segments: such a file travels whole.
std::vector<segment_range> plan_segments(std::uint64_t total_size, std::uint32_t segment_count);

// The range header value of a segment ("first-last").
std::string range_text(const segment_range& range);

// A progress message's two values: the total and the bytes done, both shifted
// right together when the total needs more than 31 bits, so the ratio stays
// right; done never exceeds total.
struct progress_values {
    std::uint32_t total = 0;
    std::uint32_t done = 0;
    friend bool operator==(const progress_values&, const progress_values&) = default;
};
progress_values scale_progress(std::uint64_t total, std::uint64_t done);
// The steps a progress message is posted at: one per whole percent, all
// that the progress window's bar and text show.
inline constexpr std::uint32_t PROGRESS_STEPS = 100;
// The step that a message's values stand at, from 0 to PROGRESS_STEPS; the
// last one only when done equals total. 0 when the total is 0.
std::uint32_t progress_step(std::uint32_t total, std::uint32_t done);
