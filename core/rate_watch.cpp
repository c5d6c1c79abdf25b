// The sliding window behind rate_watch.
#include "core/rate_watch.h"

rate_watch::rate_watch(std::uint64_t min_bytes_per_second, std::chrono::milliseconds window)
    : min_rate_(min_bytes_per_second), window_(window) {}

void rate_watch::start(clock::time_point now, std::uint64_t bytes) {
    samples_.clear();
    // Samples closer together than a 600th of the window are merged, so a
    // caller that looks every few milliseconds keeps a small history.
    if (samples_.size() >= 2 && now - samples_[samples_.size() - 2].at < window_ / 600) {
        samples_.back() = {now, bytes};
    } else {
        samples_.push_back({now, bytes});
    }
    window_bytes_ = 0;
}

bool rate_watch::too_slow(clock::time_point now, std::uint64_t bytes) {
    if (samples_.empty() || bytes < samples_.back().bytes) {
        start(now, bytes);
        return false;
    }
    // Samples closer together than a 600th of the window are merged, so a
    // caller that looks every few milliseconds keeps a small history.
    if (samples_.size() >= 2 && now - samples_[samples_.size() - 2].at < window_ / 600) {
        samples_.back() = {now, bytes};
    } else {
        samples_.push_back({now, bytes});
    }
    // Keep the newest sample at or before the window's start, and none older.
    const clock::time_point window_start = now - window_;
    while (samples_.size() > 2 && samples_[1].at <= window_start) {
        samples_.pop_front();
    }
    const sample& oldest = samples_.front();
    window_bytes_ = bytes - oldest.bytes;
    if (min_rate_ == 0 || window_.count() <= 0 || oldest.at > window_start) {
        return false;  // not yet a whole window watched
    }
    const auto seconds = std::chrono::duration<double>(now - oldest.at).count();
    return static_cast<double>(window_bytes_) < static_cast<double>(min_rate_) * seconds;
}
