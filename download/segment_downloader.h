// The segmented download engine: one file fetched as four byte ranges in
// parallel, each into a part file beside the program, then joined into the
// target file. A failed attempt leaves its part files to the next attempt at
// the same package, which asks only for the rest when the host proves that
// the file is unchanged.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/rate_watch.h"
#include "download/segment_pacing.h"
#include "download/segment_plan.h"
#include "download/stream_digest.h"
#include "platform/types.h"

struct segment_sink;
struct transfer_set;
struct resume_point;

// What the engine reads from the run that owns it, each optional: while
// paused is set no progress is posted; once cancelled is set every transfer
// stops at its next chunk.
struct download_flags {
    const std::atomic<bool>* paused = nullptr;
    const std::atomic<bool>* cancelled = nullptr;
};

// Bounds that end a dead or stalled attempt as a failure. The defaults are
// the product's; tests shorten them.
struct transfer_limits {
    long connect_timeout_s = 30;
    // A connection (the size probe's too) that brings no byte for this long fails.
    long stall_s = 30;
    // The whole package arriving slower than min_rate_bytes per second over
    // the last rate_window_s seconds fails the attempt.
    std::uint64_t min_rate_bytes = 1024;
    long rate_window_s = 60;
};

// Where one attempt's time went, in seconds from the attempt's start: for
// tuning on each system (package_fetch --timings prints it). The transfers
// include the part writes; the join is the copy of the parts into the
// package; the digest tail is the wait for the digest after the join.
struct download_timings {
    double probe_s = 0;
    double transfers_s = 0;
    double part_writes_s = 0;
    std::uint64_t part_writes = 0;
    double join_s = 0;
    double digest_tail_s = 0;
    // The digest thread's time spent reading and hashing, not waiting.
    double digest_busy_s = 0;
    std::uint64_t progress_posts = 0;
};

// The last path component after the later of the last "/" and "\".
std::string file_name_of(const std::string& path);
// The part file of segment index for a target file, beside the program.
std::string part_path_of(const std::string& target_path, int index);

class segment_downloader {
public:
    segment_downloader(const std::string& url, const std::string& probe_url, const std::string& target_path,
                       platform::window_handle window, download_flags flags, transfer_limits limits = {});
    segment_downloader(const segment_downloader&) = delete;
    segment_downloader& operator=(const segment_downloader&) = delete;
    ~segment_downloader();

    // The whole attempt: validation, transfers, release, merge. True only
    // when the target holds the complete file.
    bool download();

    // Joins the part files in segment order into the target and deletes
    // them; the number of part names, 0 when the target cannot be opened.
    int merge_segments();

    const std::vector<std::string>& part_names() const { return part_names_; }
    std::uint64_t total_size() const { return total_size_; }
    // Bytes this attempt took over from the part files of an earlier one.
    std::uint64_t resumed_bytes() const { return resumed_bytes_; }
    // The MD5 text of the joined package, computed while its bytes arrived;
    // empty when it covers less than the whole package.
    const std::string& package_digest() const { return package_digest_; }
    // A range answer came from another version of the file than the probe's
    // (or than an earlier range's): the attempt failed and kept no parts.
    bool file_changed() const { return file_changed_; }
    // Asks for the BLAKE2b-512 hash a release signature covers, taken beside
    // the MD5 digest; call before download.
    void take_signature_hash() { signature_hash_wanted_ = true; }
    // Says that the caller checks the package's digest or signature: an
    // answer labelled or shaped as a web page then does not fail the attempt
    // by itself (a real package under a wrong label still arrives; the check
    // refuses a page). Without it such an answer is a failed attempt. Call
    // before download.
    void verification_follows() { verification_follows_ = true; }
    // That hash (64 bytes) when it covers the whole package, else empty.
    const std::string& package_signature_hash() const { return package_signature_hash_; }
    const download_timings& timings() const { return timings_; }
    // After a download that returned true: the joined package, still open
    // for reading and writing as the engine created it (exclusively, never
    // through a link). The caller owns the stream; null once taken.
    std::FILE* take_package_file();

    const std::uint32_t segment_count = 4;

    // libcurl's callbacks.
    static std::size_t on_segment_data(char* data, std::size_t size, std::size_t count, void* sink);
    static std::size_t on_segment_header(char* data, std::size_t size, std::size_t count, void* sink);

private:
    bool check_file_name_validate();
    bool cancel_requested() const;
    void prepare_download();
    std::vector<std::uint64_t> resumable_bytes(const std::vector<segment_range>& plan,
                                               const std::optional<resume_point>& point) const;
    bool room_for_package(const std::vector<std::uint64_t>& held) const;
    std::uint64_t query_content_length(const std::string& url);
    bool package_too_slow();
    bool add_segment(int index, const segment_range* range, std::uint64_t held);
    bool setup_segment(segment_sink& sink);
    bool start_transfer(segment_sink& sink);
    bool restart_segment(segment_sink& sink);
    void prepare_whole_download();
    void refetch_whole();
    bool join_parts(std::uint64_t expected_bytes);
    void run_transfer_loop();
    void collect_finished();
    void pace_segments();
    void release_transfers();
    void release_handle(segment_sink& sink);
    void keep_or_discard_parts();
    void discard_parts();
    bool segments_complete() const;
    bool accept_chunk(segment_sink& sink, std::size_t bytes);
    bool check_response_head(segment_sink& sink);
    bool joined_file_is_web_page();
    bool same_file_as_probe(segment_sink& sink);
    void count_progress(std::int64_t bytes);
    bool take_chunk(segment_sink& sink, const char* data, std::size_t bytes);
    bool flush_pending(segment_sink& sink);
    void report_to_digest(segment_sink& sink, bool force);
    void flush_all_pending();
    void start_digest();

    std::vector<std::FILE*> part_files_;
    std::vector<std::string> part_names_;
    std::unique_ptr<transfer_set> transfers_;
    std::string url_;
    std::string probe_url_;
    std::string target_path_;
    std::uint64_t total_size_ = 0;
    std::uint64_t bytes_done_ = 0;
    // The progress step of the last message posted; none at first.
    std::optional<std::uint32_t> posted_step_;
    platform::window_handle window_ = 0;
    std::mutex lock_;
    download_flags flags_;
    // One per part file, in segment order.
    std::vector<std::unique_ptr<segment_sink>> sinks_;
    transfer_limits limits_;
    // Set when a segment could not be set up or the transfer loop broke down.
    bool setup_failed_ = false;
    // Set when the host answered a range request with the whole file.
    bool ranges_refused_ = false;
    bool cancelled_ = false;
    // Set when a connection or the whole package stalled.
    bool stalled_ = false;
    // Set when the host answered with a web page instead of the package.
    bool html_answer_ = false;
    bool verification_follows_ = false;
    // An answer was labelled as a web page while a digest check follows.
    bool labelled_page_ = false;
    // The status of the answer that brought the package's first bytes.
    long first_status_ = 0;
    // Body bytes received by this attempt, and the watch on their rate.
    std::uint64_t received_ = 0;
    rate_watch package_rate_;
    // The probe's answer came over HTTP/2 (or 3): the segments may share its connection.
    bool probe_multiplexed_ = false;
    // The probe's strong ETag, else its Last-Modified date; empty when it had neither.
    std::string validator_;
    // The validator the range answers are held to: the probe's, else the first answer's.
    std::string range_validator_;
    bool file_changed_ = false;
    std::uint64_t resumed_bytes_ = 0;
    std::uint64_t merged_bytes_ = 0;
    // Lets the later segments wait while the digest needs the first one's bytes.
    segment_pacing pacing_;
    bool merge_failed_ = false;
    // The target, created by this attempt and held open from its start.
    std::FILE* joined_ = nullptr;
    download_timings timings_;
    std::chrono::steady_clock::time_point started_;
    double seconds_since_start() const;
    // Follows the part files while they grow; declared last so that it stops
    // before anything it reads goes away.
    std::string package_digest_;
    bool signature_hash_wanted_ = false;
    std::string package_signature_hash_;
    stream_digest digest_;
};
