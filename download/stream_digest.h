// The digests of a package taken while it arrives: a thread of its own
// follows the part files as they grow and digests the contiguous prefix of
// the package, so that the download thread only writes, and only the rest of
// the digest remains when the last segment ends. The MD5 digest is always
// taken; the BLAKE2b-512 hash that a release signature covers is taken on
// request, by a second thread, so that it does not slow the first.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
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
    // with_blake2b: the signature's hash is taken too. False when a thread
    // cannot start (the digests are then simply not taken).
    bool start(std::vector<std::string> paths, std::vector<std::uint64_t> lengths, bool with_blake2b = false);
    // The same for part files open as the writer's own streams (not owned):
    // each thread reads them through streams of its own, opened here, never
    // through their names, so it digests exactly the bytes written.
    bool start(const std::vector<std::FILE*>& parts, std::vector<std::uint64_t> lengths, bool with_blake2b = false);
    // The writer's report: segment now holds written bytes on disk.
    void grew(std::size_t segment, std::uint64_t written);
    // A segment's part file went back to zero: the digest starts over.
    void restart(std::size_t segment);
    // Waits until every reported byte is digested, then stops. The MD5 text
    // when it covers exactly total_bytes, else empty.
    std::string finish(std::uint64_t total_bytes);
    // After finish: the 64-byte BLAKE2b-512 hash when it was asked for and
    // covers exactly total_bytes, else empty.
    const std::string& blake2b() const { return blake2b_; }
    // Stops without a result.
    void stop();
    // Waits until every thread has digested the segment and closed its part
    // file, so the part can go while the rest is read. False (at once) when
    // a thread has ended or given up, or none started.
    bool wait_until_done_with(std::size_t segment);

    // How far the slower digest has come from the package's start, and the
    // time it spent reading and digesting those bytes (not waiting for them).
    struct progress_report {
        std::uint64_t digested = 0;
        std::chrono::steady_clock::duration busy{};
    };
    progress_report progress() const;

private:
    enum class hash_kind { md5, blake2b };
    // One thread and what it has done.
    struct follower {
        explicit follower(hash_kind k) : kind(k) {}
        hash_kind kind;
        std::thread thread;
        // Under the lock: segments digested with their part files closed, in
        // order, and whether it has ended or given up.
        std::size_t done_segments = 0;
        bool idle = false;
        // Results, written by the thread and read after it has been joined.
        std::string result;
        std::uint64_t digested = 0;
        bool failed = false;
        // Readers of the writer's streams, one a segment, taken over by the thread.
        std::vector<std::FILE*> readers;
        // The running figures of progress(), written by the thread.
        std::atomic<std::uint64_t> progress_bytes{0};
        std::atomic<std::chrono::steady_clock::rep> busy_ticks{0};
    };

    // True from start until finish or stop; the followers' figures stay for progress() until the next start.
    bool running() const { return !followers_.empty() && followers_.front()->thread.joinable(); }
    void follow(follower& self);
    void report(follower& self, std::size_t done_segments, bool idle);
    void end_threads();
    bool start_threads(std::vector<std::uint64_t> lengths, bool with_blake2b, const std::vector<std::FILE*>* parts);

    std::vector<std::string> paths_;
    // Set when the part files are read through streams opened from the writer's.
    bool own_streams_ = false;
    std::vector<std::uint64_t> lengths_;
    std::unique_ptr<std::atomic<std::uint64_t>[]> written_;
    std::vector<std::unique_ptr<follower>> followers_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool finishing_ = false;  // no more bytes come; digest what is there and end
    bool stopping_ = false;   // end at once
    std::uint64_t generation_ = 0;
    // What wait_until_done_with waits for, under the lock.
    std::condition_variable progressed_;
    std::string blake2b_;
};
