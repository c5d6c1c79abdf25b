// The byte ranges of a segmented download and the scaling of its progress.
#include "download/segment_plan.h"

std::vector<segment_range> plan_segments(std::uint64_t total_size, std::uint32_t segment_count) {
    std::vector<segment_range> plan;
    if (segment_count == 0 || total_size < segment_count || total_size > static_cast<std::uint64_t>(INT64_MAX)) {
        return plan;
    }
    const std::uint64_t per = total_size / segment_count;
    for (std::uint32_t i = 0; i < segment_count; ++i) {
        segment_range range;
        range.first = static_cast<std::int64_t>(i * per);
        range.last = (i + 1 == segment_count) ? static_cast<std::int64_t>(total_size - 1)
                                              : static_cast<std::int64_t>((i + 1) * per - 1);
        plan.push_back(range);
    }
    return plan;
}

std::string range_text(const segment_range& range) {
    return std::to_string(range.first) + "-" + std::to_string(range.last);
}

progress_values scale_progress(std::uint64_t total, std::uint64_t done) {
    if (done > total) {
        done = total;
    }
    unsigned shift = 0;
    while ((total >> shift) > 0x7FFFFFFFull) {
        ++shift;
    }
    return {static_cast<std::uint32_t>(total >> shift), static_cast<std::uint32_t>(done >> shift)};
}

std::uint32_t progress_step(std::uint32_t total, std::uint32_t done) {
    if (total == 0) {
        return 0;
    }
    if (done > total) {
        done = total;
    }
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(done) * PROGRESS_STEPS / total);
}
