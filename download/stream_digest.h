// The MD5 digest of a package taken while it arrives: a thread of its own
// follows the part files as they grow and digests the contiguous prefix of
// the package, so that the download thread only writes, and only the rest of
// the digest remains when the last segment ends.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class stream_digest {
public:
    stream_digest() = default;
    stream_digest(const stream_digest&) = delete;
    stream_digest& operator=(const stream_digest&) = delete;
    ~stream_digest();

    // Starts following the part files, in package order. lengths: each
    // segment's size; 0 for a segment whose end is only known when it is done.
    // False when the thread cannot start (the digest is then simply not taken).
    bool start(std::vector<std::string> paths, std::vector<std::uint64_t> lengths);
    // The writer's report: segment now holds written bytes on disk.
    void grew(std::size_t segment, std::uint64_t written);
    // A segment's part file went back to zero: the digest starts over.
    void restart(std::size_t segment);
    // Waits until every reported byte is digested, then stops. The digest
    // text when it covers exactly total_bytes, else empty.
    std::string finish(std::uint64_t total_bytes);
    // Stops without a result.
    void stop();
    // Waits until the thread has digested the segment and closed its part
    // file, so the part can go while the rest is read. False (at once) when
    // the thread has ended or given up, or never started.
    bool wait_until_done_with(std::size_t segment);

    // How far the digest has come from the package's start, and the time it
    // spent reading and digesting those bytes (not waiting for them).
    struct progress_report {
        std::uint64_t digested = 0;
        std::chrono::steady_clock::duration busy{};
    };
    progress_report progress() const;

private:
    void follow();
    void report(std::size_t done_segments, bool idle);

    std::vector<std::string> paths_;
    std::vector<std::uint64_t> lengths_;
    std::unique_ptr<std::atomic<std::uint64_t>[]> written_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool finishing_ = false;  // no more bytes come; digest what is there and end
    bool stopping_ = false;   // end at once
    std::uint64_t generation_ = 0;
    // What wait_until_done_with waits for, under the lock.
    std::condition_variable progressed_;
    std::size_t done_segments_ = 0;  // segments digested with their part files closed, in order
    bool idle_ = false;              // ended or given up: done_segments_ grows no more
    // Results, written by the thread and read after it has been joined.
    std::string digest_;
    std::uint64_t digested_ = 0;
    // The running figures of progress(), written by the thread.
    std::atomic<std::uint64_t> progress_bytes_{0};
    std::atomic<std::chrono::steady_clock::rep> busy_ticks_{0};
    bool failed_ = false;
};
