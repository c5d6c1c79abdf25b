// The pacing of the segments against the digest.
#include "download/segment_pacing.h"

#include <algorithm>

namespace {

// The digest's speed is trusted from this much work on.
constexpr std::uint64_t MEASURED_DIGEST_BYTES = 256u << 10;

double seconds_of(segment_pacing::clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

}  // namespace

void segment_pacing::update(clock::time_point now, const std::vector<segment>& segments, std::uint64_t digested,
                            clock::duration digest_busy) {
    std::uint64_t arrived = 0;
    std::uint64_t prefix = 0;
    std::size_t frontier = segments.size();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::uint64_t bytes = std::min(segments[i].arrived, segments[i].expected);
        arrived += bytes;
        if (frontier == segments.size()) {
            prefix += bytes;
            if (bytes < segments[i].expected) frontier = i;
        }
    }
    const std::uint64_t lead = prefix > digested ? prefix - digested : 0;

    if (holding_) {
        if (frontier != frontier_ || lead >= high_lead_bytes) {
            release(now, arrived);
        } else if (now - hold_start_ >= longest_wait) {
            // The frontier does not outrun the digest on its own: waiting only slows the rest.
            release(now, arrived);
            given_up_ = true;
        }
        return;
    }

    if (!window_open_) {
        window_open_ = true;
        window_start_ = now;
        window_bytes_ = arrived;
    } else if (now - window_start_ >= rate_window) {
        arrival_per_s_ =
            static_cast<double>(arrived - std::min(arrived, window_bytes_)) / seconds_of(now - window_start_);
        window_start_ = now;
        window_bytes_ = arrived;
    }

    const double busy_s = seconds_of(digest_busy);
    const double digest_per_s =
        digested >= MEASURED_DIGEST_BYTES && busy_s > 0 ? static_cast<double>(digested) / busy_s : 0;
    if (!given_up_ && frontier + 1 < segments.size() && digest_per_s > 0 && arrival_per_s_ > digest_per_s &&
        lead < low_lead_bytes) {
        holding_ = true;
        frontier_ = frontier;
        hold_start_ = now;
    }
}

void segment_pacing::release(clock::time_point now, std::uint64_t arrived) {
    holding_ = false;
    // The rate is measured afresh from here: the wait held some of it back.
    window_open_ = true;
    window_start_ = now;
    window_bytes_ = arrived;
}
