// The digest threads: each reads the part files up to what the writer has
// reported and feeds the package's contiguous prefix to its hash.
#include "download/stream_digest.h"

#include <sodium.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <system_error>

#include "download/md5.h"
#include "platform/files.h"

namespace {

constexpr std::size_t READ_BLOCK_BYTES = 64 * 1024;

// MD5 or BLAKE2b-512 behind one face, started over by assigning a new one.
class running_hash {
public:
    explicit running_hash(bool blake2b) : blake2b_(blake2b) {
        // Only an output length out of range fails, and 64 is libsodium's maximum.
        if (blake2b_) (void)crypto_generichash_init(&blake2b_state_, nullptr, 0, crypto_generichash_BYTES_MAX);
    }
    void update(const char* data, std::size_t length) {
        if (blake2b_) {
            (void)crypto_generichash_update(&blake2b_state_, reinterpret_cast<const unsigned char*>(data), length);
        } else {
            md5_.update(data, length);
        }
    }
    // The MD5 text, or the 64 bytes of the BLAKE2b hash.
    std::string result() {
        if (!blake2b_) return md5_.hex_digest();
        std::string hash(crypto_generichash_BYTES_MAX, '\0');
        if (crypto_generichash_final(&blake2b_state_, reinterpret_cast<unsigned char*>(hash.data()), hash.size()) !=
            0) {
            return {};
        }
        return hash;
    }

private:
    bool blake2b_;
    md5 md5_;
    crypto_generichash_state blake2b_state_{};
};

}  // namespace

stream_digest::~stream_digest() {
    stop();
}

bool stream_digest::start(std::vector<std::string> paths, std::vector<std::uint64_t> lengths, bool with_blake2b) {
    stop();
    paths_ = std::move(paths);
    own_streams_ = false;
    return start_threads(std::move(lengths), with_blake2b, nullptr);
}

bool stream_digest::start(const std::vector<std::FILE*>& parts, std::vector<std::uint64_t> lengths, bool with_blake2b) {
    stop();
    paths_.assign(parts.size(), std::string());
    own_streams_ = true;
    return start_threads(std::move(lengths), with_blake2b, &parts);
}

bool stream_digest::start_threads(std::vector<std::uint64_t> lengths, bool with_blake2b,
                                  const std::vector<std::FILE*>* parts) {
    lengths_ = std::move(lengths);
    written_ = std::make_unique<std::atomic<std::uint64_t>[]>(paths_.size());
    finishing_ = false;
    stopping_ = false;
    blake2b_.clear();
    followers_.clear();
    followers_.push_back(std::make_unique<follower>(hash_kind::md5));
    // libsodium picks its fastest BLAKE2b for this processor here; without it the portable one still works.
    if (with_blake2b && sodium_init() >= 0) followers_.push_back(std::make_unique<follower>(hash_kind::blake2b));
    if (parts != nullptr) {
        // Opened now, while the writer's streams are open for certain; a
        // segment without a reader fails its digest, which is then read
        // from the joined file.
        for (auto& f : followers_) {
            for (std::FILE* part : *parts) f->readers.push_back(platform::reopen_for_reading(part));
        }
    }
    // The standard library reports a thread it cannot create by throwing.
    try {
        for (auto& f : followers_) {
            f->thread = std::thread(&stream_digest::follow, this, std::ref(*f));
        }
    } catch (const std::system_error&) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
        }
        end_threads();
        for (auto& f : followers_) {
            for (std::FILE* reader : f->readers) {
                if (reader != nullptr) (void)std::fclose(reader);  // read-only
            }
        }
        followers_.clear();
        return false;
    }
    return true;
}

void stream_digest::grew(std::size_t segment, std::uint64_t written) {
    if (!running() || segment >= paths_.size()) {
        return;
    }
    {
        // Under the lock, so a follower cannot miss the wake-up between its check and its wait.
        std::lock_guard<std::mutex> guard(lock_);
        written_[segment].store(written, std::memory_order_release);
    }
    wake_.notify_all();
}

void stream_digest::restart(std::size_t segment) {
    if (!running() || segment >= paths_.size()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        written_[segment].store(0, std::memory_order_release);
        ++generation_;
        // Every part is read again from the start: none may go before the
        // threads have been through it anew, even where they had already
        // been done with it and have not yet seen the restart.
        for (auto& f : followers_) {
            f->done_segments = 0;
            f->idle = false;
        }
    }
    wake_.notify_all();
}

void stream_digest::end_threads() {
    wake_.notify_all();
    for (auto& f : followers_) {
        if (f->thread.joinable()) f->thread.join();
    }
}

std::string stream_digest::finish(std::uint64_t total_bytes) {
    if (!running()) {
        return {};
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        finishing_ = true;
    }
    end_threads();
    std::string md5_text;
    for (const auto& f : followers_) {
        const bool whole = !f->failed && f->digested == total_bytes;
        (f->kind == hash_kind::md5 ? md5_text : blake2b_) = whole ? f->result : std::string();
    }
    return md5_text;
}

void stream_digest::stop() {
    if (!running()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    end_threads();
}

stream_digest::progress_report stream_digest::progress() const {
    progress_report report;
    bool first = true;
    for (const auto& f : followers_) {
        const std::uint64_t digested = f->progress_bytes.load(std::memory_order_relaxed);
        if (first || digested < report.digested) {
            report.digested = digested;
            report.busy = std::chrono::steady_clock::duration(f->busy_ticks.load(std::memory_order_relaxed));
            first = false;
        }
    }
    return report;
}

bool stream_digest::wait_until_done_with(std::size_t segment) {
    if (!running()) {
        return false;
    }
    std::unique_lock<std::mutex> guard(lock_);
    progressed_.wait(guard, [&] {
        return std::all_of(followers_.begin(), followers_.end(),
                           [&](const auto& f) { return f->done_segments > segment || f->idle; });
    });
    return std::all_of(followers_.begin(), followers_.end(), [&](const auto& f) { return f->done_segments > segment; });
}

void stream_digest::report(follower& self, std::size_t done_segments, bool idle) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        self.done_segments = done_segments;
        self.idle = idle;
    }
    progressed_.notify_all();
}

void stream_digest::follow(follower& self) {
    const std::size_t count = paths_.size();
    std::vector<std::unique_ptr<std::FILE, int (*)(std::FILE*)>> files;
    for (std::size_t i = 0; i < count; ++i) {
        files.emplace_back(i < self.readers.size() ? self.readers[i] : nullptr, &std::fclose);
    }
    self.readers.clear();
    auto block = std::make_unique<char[]>(READ_BLOCK_BYTES);
    const bool blake2b = self.kind == hash_kind::blake2b;
    running_hash context(blake2b);
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
                context = running_hash(blake2b);
                segment = 0;
                offset = 0;
                digested = 0;
                failed = false;
                self.done_segments = 0;
                self.idle = false;
                self.progress_bytes.store(0, std::memory_order_relaxed);
                self.busy_ticks.store(0, std::memory_order_relaxed);
                continue;
            }
            finishing = finishing_;
        }
        if (!failed && segment < count) {
            const std::uint64_t available = written_[segment].load(std::memory_order_acquire);
            if (offset < available) {
                const auto work_start = std::chrono::steady_clock::now();
                std::unique_ptr<std::FILE, int (*)(std::FILE*)>& stream = files[segment];
                if (!stream && !own_streams_) {
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
                    self.progress_bytes.store(digested, std::memory_order_relaxed);
                }
                self.busy_ticks.fetch_add((std::chrono::steady_clock::now() - work_start).count(),
                                          std::memory_order_relaxed);
                continue;
            }
            if (lengths_[segment] != 0 && offset == lengths_[segment]) {
                // Done with it: its part may go now. A reader of the writer's
                // stream stays open, since a restart reads every part again and
                // such a reader cannot be opened anew once the writer is gone.
                if (!own_streams_) files[segment].reset();
                ++segment;
                offset = 0;
                report(self, segment, false);
                continue;
            }
        }
        if (finishing) {
            break;
        }
        if (failed) {
            // Nothing more will be digested; wait only for the end.
            report(self, segment, true);
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [&] { return stopping_ || finishing_ || generation_ != generation; });
            if (stopping_ || finishing_) break;
        }
    }
    files.clear();
    self.result = context.result();
    self.digested = digested;
    self.failed = failed;
    report(self, segment, true);
}
