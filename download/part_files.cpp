// The part files of a segmented download: where they live, opening them
// (keeping what an earlier attempt left), the gathered writes, and keeping or
// throwing them away when an attempt fails.
#include <cstring>

#include "core/text_utils.h"
#include "download/own_files.h"
#include "download/resume_store.h"
#include "download/segment_downloader.h"
#include "download/segment_transfer.h"
#include "platform/files.h"

namespace {

// libcurl's chunks (16 KiB at most here) are gathered into writes of this
// size: fewer system calls for a small, fixed amount of memory per segment.
constexpr std::size_t WRITE_BLOCK_BYTES = 64 * 1024;
// The digest thread hears of a segment's new bytes at this step (and when
// the segment ends): each report may wake it, and a wake-up is a system call
// or two (several trips to Wine's server on Windows under Wine) where the
// gathered write is one.
constexpr std::uint64_t DIGEST_REPORT_BYTES = 1024 * 1024;

// Part files come without a stdio buffer (the engine gathers its own
// writes, and what it has written is on disk for the digest thread to read),
// made exclusively and never through a link: see own_files.h.

// The size of an open part file; -1 when it cannot be told.
long file_size_of(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    return std::ftell(file);
}

}  // namespace

std::string file_name_of(const std::string& path) {
    const std::size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string part_path_of(const std::string& target_path, int index) {
    // Beside the program, named after the target: a target of ours gives part names of ours.
    return module_dir() + file_name_of(target_path) + "-" + std::to_string(index);
}

// Opens the segment's part file, keeping the bytes an earlier attempt left
// when they can be trusted, and starts the transfer of the rest.
bool segment_downloader::setup_segment(segment_sink& sink) {
    const std::string path = part_path_of(target_path_, sink.index);
    part_names_.push_back(path);
    std::FILE* file = nullptr;
    if (sink.held > 0) {
        // Kept by the failed attempt of this run, closed since: trusted only
        // while it is still a plain file of our own.
        file = reopen_download_file(path, "part file");
        const long size = file != nullptr ? file_size_of(file) : -1;
        // More bytes than the earlier attempt wrote (a part file longer than
        // its segment, say) are not ours: start that segment from zero.
        if (size >= 0 && static_cast<std::uint64_t>(size) <= sink.held) {
            sink.held = static_cast<std::uint64_t>(size);
        } else {
            sink.held = 0;
            if (file != nullptr) (void)std::fclose(file);  // reopened and truncated below
            file = nullptr;
        }
    }
    if (file == nullptr) {
        file = create_download_file(path, "part file");
    }
    if (file == nullptr) {
        return false;  // the line has been written
    }
    sink.file = file;
    sink.written = sink.held;
    sink.on_disk = sink.held;
    sink.reported = 0;
    part_files_.push_back(file);
    if (sink.held > 0) {
        resumed_bytes_ += sink.held;
        std::lock_guard<std::mutex> guard(lock_);
        bytes_done_ += sink.held;
    }
    if (sink.ranged && sink.held == sink.expected) {
        // Nothing is left to fetch of this segment.
        sink.finished = true;
        sink.status = 206;
        return true;
    }
    return start_transfer(sink);
}

// The host would not resume the segment (its file changed, or it has no
// validator to compare): the part file starts again from zero.
bool segment_downloader::restart_segment(segment_sink& sink) {
    release_handle(sink);
    const std::string& path = part_names_[static_cast<std::size_t>(sink.index)];
    // Emptied where it is, through our own stream: the digest thread's
    // readers of the same file stay valid, and the name is never used again.
    if (!platform::truncate_file(sink.file)) {
        debug_log("[TamsaUpdate]: part file %s cannot be emptied \n", path.c_str());
        return false;
    }
    count_progress(-static_cast<std::int64_t>(sink.written));
    resumed_bytes_ -= sink.held;
    digest_.restart(static_cast<std::size_t>(sink.index));
    sink.held = 0;
    sink.written = 0;
    sink.on_disk = 0;
    sink.reported = 0;
    sink.pending_used = 0;
    sink.checked = false;
    sink.finished = false;
    sink.restart = false;
    sink.paused = false;
    sink.result = CURLE_OK;
    sink.status = 0;
    return start_transfer(sink);
}

// A failed attempt at a file with a validator leaves its part files to the
// next attempt; anything else is thrown away.
void segment_downloader::keep_or_discard_parts() {
    const bool resumable = !cancelled_ && !ranges_refused_ && !html_answer_ && !file_changed_ && !validator_.empty() &&
                           sinks_.size() == segment_count && part_names_.size() == segment_count &&
                           sinks_.front()->ranged;
    if (!resumable) {
        discard_parts();
        return;
    }
    digest_.stop();  // it reads the part files that are closed now
    resume_point point{url_, target_path_, total_size_, validator_, part_names_, {}};
    for (const auto& sink : sinks_) {
        // Bytes the disk may not have taken are not held: the next attempt compares sizes.
        const bool closed = sink->file != nullptr && std::fclose(sink->file) == 0;
        point.held.push_back(closed ? sink->on_disk : 0);
        sink->file = nullptr;
    }
    part_files_.clear();
    part_names_.clear();
    sinks_.clear();
    keep_resume_point(std::move(point));
}

void segment_downloader::discard_parts() {
    digest_.stop();  // it reads the part files that go now
    for (std::FILE*& file : part_files_) {
        if (file != nullptr) {
            (void)std::fclose(file);  // the content is thrown away anyway
            file = nullptr;
        }
    }
    part_files_.clear();
    for (const std::string& name : part_names_) {
        (void)platform::delete_file(name);  // a part never created fails here, as it should
    }
    part_names_.clear();
    sinks_.clear();
}

bool segment_downloader::take_chunk(segment_sink& sink, const char* data, std::size_t bytes) {
    if (sink.pending_used + bytes > WRITE_BLOCK_BYTES && !flush_pending(sink)) {
        return false;
    }
    if (bytes > WRITE_BLOCK_BYTES) {
        const auto write_start = std::chrono::steady_clock::now();
        const std::size_t put = std::fwrite(data, 1, bytes, sink.file);
        timings_.part_writes_s += std::chrono::duration<double>(std::chrono::steady_clock::now() - write_start).count();
        ++timings_.part_writes;
        sink.on_disk += put;
        report_to_digest(sink, false);
        return put == bytes;
    }
    if (!sink.pending) {
        sink.pending = std::make_unique<char[]>(WRITE_BLOCK_BYTES);
    }
    std::memcpy(sink.pending.get() + sink.pending_used, data, bytes);
    sink.pending_used += bytes;
    return true;
}

// Writes what the segment has gathered; false on a short write. After a
// stop nothing more is written: the attempt's parts are thrown away anyway.
bool segment_downloader::flush_pending(segment_sink& sink) {
    if (cancel_requested()) {
        sink.pending_used = 0;
        return false;
    }
    if (sink.pending_used == 0 || sink.file == nullptr) {
        return sink.pending_used == 0;
    }
    const auto write_start = std::chrono::steady_clock::now();
    const std::size_t put = std::fwrite(sink.pending.get(), 1, sink.pending_used, sink.file);
    timings_.part_writes_s += std::chrono::duration<double>(std::chrono::steady_clock::now() - write_start).count();
    ++timings_.part_writes;
    const bool complete = put == sink.pending_used;
    sink.on_disk += put;
    sink.pending_used = 0;
    report_to_digest(sink, false);
    return complete;
}

// Tells the digest what the segment has on disk: at every step of
// DIGEST_REPORT_BYTES, when the segment is complete, and always when forced
// (the segment's transfer has ended).
void segment_downloader::report_to_digest(segment_sink& sink, bool force) {
    const bool complete = sink.expected != 0 && sink.on_disk >= sink.expected;
    if (sink.on_disk == sink.reported || (!force && !complete && sink.on_disk - sink.reported < DIGEST_REPORT_BYTES)) {
        return;
    }
    sink.reported = sink.on_disk;
    digest_.grew(static_cast<std::size_t>(sink.index), sink.on_disk);
}

void segment_downloader::flush_all_pending() {
    for (const auto& sink : sinks_) {
        if (!flush_pending(*sink) && sink->result == CURLE_OK) {
            sink->result = CURLE_WRITE_ERROR;
        }
        report_to_digest(*sink, true);
        sink->pending.reset();
    }
}
