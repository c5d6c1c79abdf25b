// The digest thread: reads each part file up to what the writer has reported
// and feeds the package's contiguous prefix to one MD5 context.
#include "download/stream_digest.h"

#include <climits>
#include <cstdio>
#include <memory>
#include <system_error>

#include "download/md5.h"

namespace {

constexpr std::size_t READ_BLOCK_BYTES = 64 * 1024;

}  // namespace

stream_digest::~stream_digest() {
    stop();
}

bool stream_digest::start(std::vector<std::string> paths, std::vector<std::uint64_t> lengths) {
    stop();
    paths_ = std::move(paths);
    lengths_ = std::move(lengths);
    written_ = std::make_unique<std::atomic<std::uint64_t>[]>(paths_.size());
    finishing_ = false;
    stopping_ = false;
    digest_.clear();
    digested_ = 0;
    failed_ = false;
    done_segments_ = 0;
    idle_ = false;
    progress_bytes_.store(0, std::memory_order_relaxed);
    busy_ticks_.store(0, std::memory_order_relaxed);
    // The standard library reports a thread it cannot create by throwing.
    try {
        thread_ = std::thread(&stream_digest::follow, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void stream_digest::grew(std::size_t segment, std::uint64_t written) {
    if (!thread_.joinable() || segment >= paths_.size()) {
        return;
    }
    {
        // Under the lock, so the follower cannot miss the wake-up between its check and its wait.
        std::lock_guard<std::mutex> guard(lock_);
        written_[segment].store(written, std::memory_order_release);
    }
    wake_.notify_one();
}

void stream_digest::restart(std::size_t segment) {
    if (!thread_.joinable() || segment >= paths_.size()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        written_[segment].store(0, std::memory_order_release);
        ++generation_;
    }
    wake_.notify_one();
}

std::string stream_digest::finish(std::uint64_t total_bytes) {
    if (!thread_.joinable()) {
        return {};
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        finishing_ = true;
    }
    wake_.notify_one();
    thread_.join();
    return !failed_ && digested_ == total_bytes ? digest_ : std::string();
}

void stream_digest::stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

stream_digest::progress_report stream_digest::progress() const {
    progress_report report;
    report.digested = progress_bytes_.load(std::memory_order_relaxed);
    report.busy = std::chrono::steady_clock::duration(busy_ticks_.load(std::memory_order_relaxed));
    return report;
}

bool stream_digest::wait_until_done_with(std::size_t segment) {
    if (!thread_.joinable()) {
        return false;
    }
    std::unique_lock<std::mutex> guard(lock_);
    progressed_.wait(guard, [&] { return done_segments_ > segment || idle_; });
    return done_segments_ > segment;
}

void stream_digest::report(std::size_t done_segments, bool idle) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        done_segments_ = done_segments;
        idle_ = idle;
    }
    progressed_.notify_all();
}

void stream_digest::follow() {
    const std::size_t count = paths_.size();
    std::vector<std::unique_ptr<std::FILE, int (*)(std::FILE*)>> files;
    for (std::size_t i = 0; i < count; ++i) files.emplace_back(nullptr, &std::fclose);
    auto block = std::make_unique<char[]>(READ_BLOCK_BYTES);
    md5 context;
    std::size_t segment = 0;
    std::uint64_t offset = 0;
    std::uint64_t digested = 0;
    std::uint64_t generation = 0;
    bool failed = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        generation = generation_;
    }
    for (;;) {
        bool finishing = false;
        {
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [&] {
                return stopping_ || finishing_ || generation_ != generation ||
                       (segment < count && (written_[segment].load(std::memory_order_acquire) > offset ||
                                            (lengths_[segment] != 0 && offset == lengths_[segment])));
            });
            if (stopping_) {
                failed = true;
                break;
            }
            if (generation_ != generation) {
                // A part file went back to zero: everything read so far may be stale.
                generation = generation_;
                context = md5();
                segment = 0;
                offset = 0;
                digested = 0;
                failed = false;
                done_segments_ = 0;
                idle_ = false;
                progress_bytes_.store(0, std::memory_order_relaxed);
                busy_ticks_.store(0, std::memory_order_relaxed);
                continue;
            }
            finishing = finishing_;
        }
        if (!failed && segment < count) {
            const std::uint64_t available = written_[segment].load(std::memory_order_acquire);
            if (offset < available) {
                const auto work_start = std::chrono::steady_clock::now();
                std::unique_ptr<std::FILE, int (*)(std::FILE*)>& stream = files[segment];
                if (!stream) {
                    stream.reset(std::fopen(paths_[segment].c_str(), "rb"));
                    // Unbuffered: a buffer could hold bytes from before a restart.
                    if (stream) (void)std::setvbuf(stream.get(), nullptr, _IONBF, 0);
                }
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(READ_BLOCK_BYTES, available - offset));
                std::size_t got = 0;
                if (stream && offset <= static_cast<std::uint64_t>(LONG_MAX) &&
                    std::fseek(stream.get(), static_cast<long>(offset), SEEK_SET) == 0) {
                    got = std::fread(block.get(), 1, want, stream.get());
                }
                if (got == 0) {
                    failed = true;  // the package's digest is then read from the joined file
                } else {
                    context.update(block.get(), got);
                    offset += got;
                    digested += got;
                    progress_bytes_.store(digested, std::memory_order_relaxed);
                }
                busy_ticks_.fetch_add((std::chrono::steady_clock::now() - work_start).count(),
                                      std::memory_order_relaxed);
                continue;
            }
            if (lengths_[segment] != 0 && offset == lengths_[segment]) {
                files[segment].reset();  // done with it: its part may go now
                ++segment;
                offset = 0;
                report(segment, false);
                continue;
            }
        }
        if (finishing) {
            break;
        }
        if (failed) {
            // Nothing more will be digested; wait only for the end.
            report(segment, true);
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [&] { return stopping_ || finishing_ || generation_ != generation; });
            if (stopping_ || finishing_) break;
        }
    }
    files.clear();
    digest_ = context.hex_digest();
    digested_ = digested;
    failed_ = failed;
    report(segment, true);
}
