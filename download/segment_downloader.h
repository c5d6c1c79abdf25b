// The segmented download engine: one file fetched as four byte ranges in
// parallel on libcurl's multi interface, each into a part file beside the
// program, then joined into the target file.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/segment_plan.h"
#include "platform/types.h"

class segment_downloader;

// What the engine reads from the run that owns it, each optional: while
// paused is set no progress is posted; once cancelled is set every transfer
// stops at its next chunk.
struct download_flags {
    const std::atomic<bool>* paused = nullptr;
    const std::atomic<bool>* cancelled = nullptr;
};

// Bounds that end a dead or stalled transfer as a failure.
struct transfer_limits {
    long connect_timeout_s = 30;
    // A transfer slower than low_speed_bytes per second for low_speed_time_s fails.
    long low_speed_bytes = 1;
    long low_speed_time_s = 60;
};

// The state of one segment transfer; the user data of its callbacks.
struct segment_sink {
    std::FILE* file = nullptr;  // not owned
    segment_downloader* owner = nullptr;
    std::int32_t index = 0;
    CURL* handle = nullptr;  // not owned
    bool ranged = false;     // false: the whole file in one transfer
    segment_range range;
    std::uint64_t expected = 0;  // bytes the body must have; 0 when unknown
    std::uint64_t written = 0;
    bool checked = false;   // the response head was checked at the first chunk
    bool finished = false;  // libcurl reported the transfer done
    CURLcode result = CURLE_OK;
    long status = 0;
    std::string content_range;  // of the last response head
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

    void prepare_download();
    bool setup_segment(CURL* handle, int index, std::int64_t first, std::int64_t last);
    std::uint64_t query_content_length(const std::string& url);
    static std::size_t on_segment_data(char* data, std::size_t size, std::size_t count, void* sink);
    // Joins the part files in segment order into the target and deletes
    // them; the number of part names, 0 when the target cannot be opened.
    int merge_segments();

    const std::vector<std::string>& part_names() const { return part_names_; }
    std::uint64_t total_size() const { return total_size_; }

    const std::uint32_t segment_count = 4;

private:
    bool check_file_name_validate();
    bool cancel_requested() const;
    bool add_segment(int index, const segment_range* range);
    void prepare_whole_download();
    void refetch_whole();
    bool join_parts(std::uint64_t expected_bytes);
    void run_transfer_loop();
    void collect_finished();
    void release_transfers();
    void discard_parts();
    bool segments_complete() const;
    bool accept_chunk(segment_sink& sink, std::size_t bytes);
    bool check_response_head(segment_sink& sink);
    void count_progress(std::size_t bytes);
    static std::size_t on_segment_header(char* data, std::size_t size, std::size_t count, void* sink);

    std::vector<CURL*> handles_;
    std::vector<std::FILE*> part_files_;
    std::vector<std::string> part_names_;
    // The stdio buffers of the open part files; freed once those are closed.
    std::vector<std::unique_ptr<char[]>> part_buffers_;
    CURLM* multi_ = nullptr;
    std::string url_;
    std::string probe_url_;
    std::string target_path_;
    std::uint64_t total_size_ = 0;
    std::uint64_t bytes_done_ = 0;
    platform::window_handle window_ = 0;
    std::mutex lock_;
    download_flags flags_;
    std::list<std::unique_ptr<segment_sink>> sinks_;
    transfer_limits limits_;
    // Set when a segment could not be set up or the transfer loop broke down.
    bool setup_failed_ = false;
    // Set when the host answered a range request with the whole file.
    bool ranges_refused_ = false;
    bool cancelled_ = false;
    // The probe's answer came over HTTP/2 (or 3): the segments may share its connection.
    bool probe_multiplexed_ = false;
    std::uint64_t merged_bytes_ = 0;
    bool merge_failed_ = false;
};
