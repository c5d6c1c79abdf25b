// The segmented download engine: set-up, the transfer loop and the checks
// that decide whether every segment delivered exactly its range.
#include "download/segment_downloader.h"

#include <cstring>
#include <string_view>

#include "core/text_utils.h"
#include "core/update_messages.h"
#include "download/resume_store.h"
#include "download/segment_transfer.h"
#include "platform/files.h"
#include "platform/message_queue.h"

namespace {

// The longest wait for socket activity per pass, so the cancel flag is seen promptly.
constexpr int MAX_WAIT_MS = 1000;
// The same while segments wait for the digest: how soon the wait is looked at again.
constexpr int PACED_WAIT_MS = 5;
// libcurl's receive buffer per transfer.
constexpr long RECEIVE_BUFFER_BYTES = 64 * 1024;
// libcurl's chunks (16 KiB at most here) are gathered into writes of this
// size: fewer system calls for a small, fixed amount of memory per segment.
constexpr std::size_t WRITE_BLOCK_BYTES = 64 * 1024;
constexpr long MAX_REDIRECTS = 5;

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        char b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) {
            return false;
        }
    }
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

std::size_t collect_header(char* data, std::size_t size, std::size_t count, void* text) {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

// The validator of the last response head in headers (redirects come first):
// its strong ETag, else its Last-Modified date, else nothing. A weak ETag
// cannot prove that two byte ranges come from the same file.
std::string validator_of(std::string_view headers) {
    std::string etag;
    std::string last_modified;
    while (!headers.empty()) {
        const std::size_t end = headers.find('\n');
        const std::string_view line = headers.substr(0, end);
        headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 1);
        if (line.starts_with("HTTP/")) {
            etag.clear();
            last_modified.clear();
        } else if (starts_with_ignoring_case(line, "etag:")) {
            etag = std::string(trim(line.substr(5)));
        } else if (starts_with_ignoring_case(line, "last-modified:")) {
            last_modified = std::string(trim(line.substr(14)));
        }
    }
    // The validator goes back to the host in a header line of its own, so a
    // control character in it would smuggle in another line.
    const auto printable = [](const std::string& text) {
        for (const char c : text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
        }
        return true;
    };
    if (!etag.empty() && !etag.starts_with("W/") && printable(etag)) {
        return etag;
    }
    return printable(last_modified) ? last_modified : std::string();
}

// Options shared by the probe and the segments: certificate checks off,
// redirects followed, and bounds that end a dead or stalled transfer.
bool set_common_options(CURL* handle, const std::string& url, const transfer_limits& limits) {
    bool ok = curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_MAXREDIRS, MAX_REDIRECTS) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connect_timeout_s) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_bytes) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.low_speed_time_s) == CURLE_OK && ok;
    return ok;
}

// A part file without a stdio buffer: the engine gathers its own writes, and
// what it has written is on disk for the digest thread to read.
std::FILE* open_part(const std::string& path, const char* mode) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (file != nullptr) {
        // A stream that keeps its stdio buffer still works, with one more copy.
        (void)std::setvbuf(file, nullptr, _IONBF, 0);
    }
    return file;
}

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
    return module_dir() + file_name_of(target_path) + "-" + std::to_string(index);
}

segment_downloader::segment_downloader(const std::string& url, const std::string& probe_url,
                                       const std::string& target_path, platform::window_handle window,
                                       download_flags flags, transfer_limits limits)
    : transfers_(std::make_unique<transfer_set>()),
      url_(url),
      probe_url_(probe_url),
      target_path_(target_path),
      window_(window),
      flags_(flags),
      limits_(limits) {}

bool segment_downloader::cancel_requested() const {
    return flags_.cancelled != nullptr && flags_.cancelled->load();
}

segment_downloader::~segment_downloader() {
    // download() has released everything; this only matters when it was not run to its end.
    release_transfers();
    for (std::FILE*& file : part_files_) {
        if (file != nullptr) {
            (void)std::fclose(file);
            file = nullptr;
        }
    }
}

bool segment_downloader::download() {
    if (!check_file_name_validate()) {
        return false;
    }
    prepare_download();
    run_transfer_loop();
    if (ranges_refused_ && !cancelled_ && !setup_failed_) {
        refetch_whole();
    }
    flush_all_pending();
    release_transfers();
    count_resumed_bytes(resumed_bytes_);
    const bool complete = !cancelled_ && !setup_failed_ && !ranges_refused_ && segments_complete();
    if (!complete) {
        debug_log("[TamsaUpdate]: download of %s failed \n", url_.c_str());
        keep_or_discard_parts();
        return false;
    }
    std::uint64_t expected_bytes = 0;
    for (const auto& sink : sinks_) {
        expected_bytes += sink->written;
    }
    sinks_.clear();
    return join_parts(expected_bytes);
}

// A host that answers a range request with the whole file gets one plain
// request instead, so the package never holds four copies.
void segment_downloader::refetch_whole() {
    debug_log("[TamsaUpdate]: %s ignores byte ranges, fetching it whole \n", url_.c_str());
    release_transfers();
    discard_parts();
    ranges_refused_ = false;
    prepare_whole_download();
    run_transfer_loop();
}

bool segment_downloader::join_parts(std::uint64_t expected_bytes) {
    merge_segments();
    if (!merge_failed_ && merged_bytes_ == expected_bytes) {
        return true;
    }
    debug_log("[TamsaUpdate]: joining the parts of %s failed \n", target_path_.c_str());
    discard_parts();
    // A partly joined package must not look like a finished one.
    if (std::FILE* target = std::fopen(target_path_.c_str(), "wb")) {
        (void)std::fclose(target);  // empty either way
    }
    return false;
}

bool segment_downloader::check_file_name_validate() {
    std::FILE* file = std::fopen(target_path_.c_str(), "wb+");
    if (file == nullptr) {
        debug_log("[TamsaUpdate] check_file_name_validate :%s invalidate \n", target_path_.c_str());
        return false;
    }
    // Nothing was written, so closing cannot lose data.
    (void)std::fclose(file);
    return true;
}

void segment_downloader::prepare_download() {
    transfers_->multi = curl_multi_init();
    if (transfers_->multi == nullptr) {
        debug_log("[TamsaUpdate]: curl_multi_init failed \n");
        setup_failed_ = true;
        return;
    }
    total_size_ = query_content_length(probe_url_);
    const std::vector<segment_range> plan = plan_segments(total_size_, segment_count);
    // What an earlier attempt left is used now or never.
    std::optional<resume_point> point = take_resume_point(url_, target_path_);
    const std::vector<std::uint64_t> held = resumable_bytes(plan, point);
    if (point && held == std::vector<std::uint64_t>(plan.size(), 0)) {
        drop_resume_point(*point);
    }
    if (plan.empty()) {
        // No usable length, or fewer bytes than segments: one whole transfer.
        prepare_whole_download();
        return;
    }
    for (std::uint32_t i = 0; i < plan.size(); ++i) {
        if (!add_segment(static_cast<int>(i), &plan[i], held[i])) {
            return;
        }
    }
    if (resumed_bytes_ > 0) {
        count_progress(0);  // progress starts from what is already held
    }
    start_digest();
    // Multiplexing is a wish; a libcurl without HTTP/2 refuses it and uses one connection per segment.
    (void)curl_multi_setopt(transfers_->multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    int running = 0;
    // Transfer errors surface in the loop; this call only starts the requests.
    (void)curl_multi_perform(transfers_->multi, &running);
}

// What each segment may keep of an earlier attempt at this package: nothing
// unless that attempt saw the same validator and the same size that the
// probe shows now.
std::vector<std::uint64_t> segment_downloader::resumable_bytes(const std::vector<segment_range>& plan,
                                                               const std::optional<resume_point>& point) const {
    std::vector<std::uint64_t> held(plan.size(), 0);
    if (!point || point->validator.empty() || point->validator != validator_ || point->total_size != total_size_ ||
        point->held.size() != plan.size()) {
        return held;
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
        held[i] = point->held[i];
    }
    return held;
}

void segment_downloader::prepare_whole_download() {
    if (transfers_->multi == nullptr) {
        transfers_->multi = curl_multi_init();
    }
    if (transfers_->multi == nullptr) {
        debug_log("[TamsaUpdate]: curl_multi_init failed \n");
        setup_failed_ = true;
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        bytes_done_ = 0;
    }
    if (add_segment(0, nullptr, 0)) {
        start_digest();
    }
}

// The digest thread follows the part files from here on; the bytes already
// held are the first it reads.
void segment_downloader::start_digest() {
    std::vector<std::uint64_t> lengths;
    for (const auto& sink : sinks_) {
        lengths.push_back(sink->ranged ? sink->expected : 0);
    }
    if (!digest_.start(part_names_, lengths, signature_hash_wanted_)) {
        return;  // the package's digest is then read from the joined file
    }
    for (const auto& sink : sinks_) {
        digest_.grew(static_cast<std::size_t>(sink->index), sink->written);
    }
}

bool segment_downloader::add_segment(int index, const segment_range* range, std::uint64_t held) {
    auto sink = std::make_unique<segment_sink>();
    sink->owner = this;
    sink->index = index;
    // A whole-file transfer has an empty range (last before first).
    sink->range = range != nullptr ? *range : segment_range{0, -1};
    sink->ranged = range != nullptr;
    sink->expected = sink->ranged ? sink->range.length() : total_size_;
    sink->held = held;
    const bool ok = setup_segment(*sink);
    // Once its part file is open the sink is kept, so the k-th part file and
    // the k-th sink stay one segment's, and a started handle never outlives it.
    if (sink->file != nullptr) {
        sinks_.push_back(std::move(sink));
    }
    if (!ok) {
        setup_failed_ = true;
    }
    return ok;
}

// Opens the segment's part file, keeping the bytes an earlier attempt left
// when they can be trusted, and starts the transfer of the rest.
bool segment_downloader::setup_segment(segment_sink& sink) {
    const std::string path = part_path_of(target_path_, sink.index);
    part_names_.push_back(path);
    std::FILE* file = nullptr;
    if (sink.held > 0) {
        file = open_part(path, "rb+");
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
        file = open_part(path, "wb+");
    }
    if (file == nullptr) {
        debug_log("[TamsaUpdate]: part file %s cannot be created \n", path.c_str());
        return false;
    }
    sink.file = file;
    sink.written = sink.held;
    sink.on_disk = sink.held;
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

// One request for what the segment still lacks; a resumed one carries the
// validator, so a host whose file has changed answers with the whole file.
bool segment_downloader::start_transfer(segment_sink& sink) {
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        debug_log("prepare_download curl_easy_init failed \n");
        return false;
    }
    bool ok = set_common_options(handle, url_, limits_);
    if (sink.ranged) {
        const segment_range rest{sink.range.first + static_cast<std::int64_t>(sink.held), sink.range.last};
        ok = curl_easy_setopt(handle, CURLOPT_RANGE, range_text(rest).c_str()) == CURLE_OK && ok;
    }
    if (sink.held > 0) {
        sink.if_range = "If-Range: " + validator_;
        sink.request_headers = curl_slist_append(nullptr, sink.if_range.c_str());
        ok = sink.request_headers != nullptr && ok;
        ok = curl_easy_setopt(handle, CURLOPT_HTTPHEADER, sink.request_headers) == CURLE_OK && ok;
    }
    ok = curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &segment_downloader::on_segment_data) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_HEADERDATA, &sink) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &segment_downloader::on_segment_header) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_PRIVATE, &sink) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, RECEIVE_BUFFER_BYTES) == CURLE_OK && ok;
    // HTTP/2 where TLS negotiates it; refused by a libcurl without HTTP/2, and
    // then the segments travel as HTTP/1.1, one connection each.
    (void)curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // Waiting to share one connection only pays when the host is known to
    // multiplex; with an HTTP/1.1 host the waiting segments would queue up
    // behind the first one on its connection instead of running in parallel.
    (void)curl_easy_setopt(handle, CURLOPT_PIPEWAIT, probe_multiplexed_ ? 1L : 0L);
    sink.handle = handle;
    transfers_->handles.push_back(handle);
    return ok && curl_multi_add_handle(transfers_->multi, handle) == CURLM_OK;
}

// The host would not resume the segment (its file changed, or it has no
// validator to compare): the part file starts again from zero.
bool segment_downloader::restart_segment(segment_sink& sink) {
    release_handle(sink);
    const std::string& path = part_names_[static_cast<std::size_t>(sink.index)];
    // Its content is thrown away, so a failing close loses nothing.
    (void)std::fclose(sink.file);
    std::FILE* file = open_part(path, "wb+");
    for (std::FILE*& part : part_files_) {
        if (part == sink.file) part = file;
    }
    sink.file = file;
    if (file == nullptr) {
        debug_log("[TamsaUpdate]: part file %s cannot be created \n", path.c_str());
        return false;
    }
    count_progress(-static_cast<std::int64_t>(sink.written));
    resumed_bytes_ -= sink.held;
    digest_.restart(static_cast<std::size_t>(sink.index));
    sink.held = 0;
    sink.written = 0;
    sink.on_disk = 0;
    sink.pending_used = 0;
    sink.checked = false;
    sink.finished = false;
    sink.restart = false;
    sink.paused = false;
    sink.result = CURLE_OK;
    sink.status = 0;
    return start_transfer(sink);
}

std::uint64_t segment_downloader::query_content_length(const std::string& url) {
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        return 0;
    }
    std::string headers;
    bool ok = set_common_options(handle, url, limits_);
    ok = curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "GET") == CURLE_OK && ok;
    (void)curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    ok = curl_easy_setopt(handle, CURLOPT_NOBODY, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &collect_header) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_HEADERDATA, &headers) == CURLE_OK && ok;
    curl_off_t length = -1;
    long status = 0;
    if (ok && curl_easy_perform(handle) == CURLE_OK &&
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
        curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK) {
        // The length of an error page is not the package's.
        if (status < 200 || status > 299) {
            length = -1;
        } else {
            validator_ = validator_of(headers);
        }
        long version = CURL_HTTP_VERSION_NONE;
        probe_multiplexed_ = curl_easy_getinfo(handle, CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
                             (version == CURL_HTTP_VERSION_2_0 || version == CURL_HTTP_VERSION_3);
    }
    curl_easy_cleanup(handle);
    return length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

void segment_downloader::run_transfer_loop() {
    if (transfers_->multi == nullptr) {
        return;
    }
    int running = 0;
    for (;;) {
        CURLMcode code = curl_multi_perform(transfers_->multi, &running);
        if (code != CURLM_OK) {
            debug_log("[TamsaUpdate]: curl_multi_perform failed, code %d \n", static_cast<int>(code));
            setup_failed_ = true;
            break;
        }
        collect_finished();
        if (setup_failed_ || ranges_refused_) {
            break;
        }
        // A restarted segment is running again even when libcurl counted none.
        bool active = running > 0;
        for (const auto& sink : sinks_) {
            active = active || (sink->handle != nullptr && !sink->finished);
        }
        if (!active) {
            break;
        }
        // Checked every pass, so a stop ends the loop even when no data arrives.
        if (cancel_requested()) {
            cancelled_ = true;
            break;
        }
        pace_segments();
        code = curl_multi_poll(transfers_->multi, nullptr, 0, pacing_.holding() ? PACED_WAIT_MS : MAX_WAIT_MS, nullptr);
        if (code != CURLM_OK) {
            std::fprintf(stderr, "curl_multi_fdset() failed, code %d.\n", static_cast<int>(code));
            setup_failed_ = true;
            break;
        }
    }
    if (cancel_requested()) {
        cancelled_ = true;
    }
}

// Pauses or resumes the segments after the first unfinished one, as the
// pacing decides. A segment waits only once its response head has been
// checked, so every answer is judged as soon as it comes.
void segment_downloader::pace_segments() {
    if (sinks_.size() < 2 || !sinks_.front()->ranged) {
        return;
    }
    std::vector<segment_pacing::segment> segments;
    segments.reserve(sinks_.size());
    for (const auto& sink : sinks_) {
        segments.push_back({sink->on_disk, sink->expected});
    }
    const stream_digest::progress_report digest = digest_.progress();
    pacing_.update(segment_pacing::clock::now(), segments, digest.digested, digest.busy);
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        segment_sink& sink = *sinks_[i];
        if (sink.handle == nullptr || sink.finished) {
            continue;
        }
        const bool wait = pacing_.holds(i) && sink.checked;
        if (wait != sink.paused && curl_easy_pause(sink.handle, wait ? CURLPAUSE_RECV : CURLPAUSE_CONT) == CURLE_OK) {
            sink.paused = wait;
        }
    }
}

void segment_downloader::collect_finished() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(transfers_->multi, &left)) {
        if (msg->msg != CURLMSG_DONE) {
            continue;
        }
        segment_sink* sink = nullptr;
        if (curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &sink) != CURLE_OK || sink == nullptr) {
            continue;
        }
        sink->finished = true;
        sink->result = msg->data.result;
        // Whatever the outcome, what was taken goes to the part file now.
        if (!flush_pending(*sink) && sink->result == CURLE_OK) {
            sink->result = CURLE_WRITE_ERROR;
        }
        sink->pending.reset();
        long status = 0;
        if (curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
            sink->status = status;
        }
        // A whole file in answer to a resumed range: the validator no longer matches.
        if (sink->restart || (sink->held > 0 && sink->status == 200)) {
            if (!restart_segment(*sink)) setup_failed_ = true;
            continue;
        }
        if (sink->result != CURLE_OK && !ranges_refused_) {
            debug_log("[TamsaUpdate]: segment %d ended with \"%s\" after %llu bytes, HTTP status %ld \n", sink->index,
                      curl_easy_strerror(sink->result), static_cast<unsigned long long>(sink->written), sink->status);
        }
    }
}

void segment_downloader::release_handle(segment_sink& sink) {
    if (sink.handle != nullptr) {
        if (transfers_->multi != nullptr) {
            // A handle that never made it into the multi handle reports an error here; nothing to do about it.
            (void)curl_multi_remove_handle(transfers_->multi, sink.handle);
        }
        curl_easy_cleanup(sink.handle);
        std::erase(transfers_->handles, sink.handle);
        sink.handle = nullptr;
    }
    curl_slist_free_all(sink.request_headers);
    sink.request_headers = nullptr;
}

void segment_downloader::release_transfers() {
    for (const auto& sink : sinks_) {
        release_handle(*sink);
    }
    // Handles whose segment never got a sink.
    for (CURL* handle : transfers_->handles) {
        if (transfers_->multi != nullptr) {
            (void)curl_multi_remove_handle(transfers_->multi, handle);  // may not have been added
        }
        curl_easy_cleanup(handle);
    }
    transfers_->handles.clear();
    if (transfers_->multi != nullptr) {
        (void)curl_multi_cleanup(transfers_->multi);
        transfers_->multi = nullptr;
    }
}

// A failed attempt at a file with a validator leaves its part files to the
// next attempt; anything else is thrown away.
void segment_downloader::keep_or_discard_parts() {
    const bool resumable = !cancelled_ && !ranges_refused_ && !validator_.empty() && sinks_.size() == segment_count &&
                           part_names_.size() == segment_count && sinks_.front()->ranged;
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

bool segment_downloader::segments_complete() const {
    if (sinks_.empty()) {
        return false;
    }
    for (const auto& sink : sinks_) {
        const long wanted_status = sink->ranged ? 206 : 200;
        const bool whole_body = sink->expected == 0 || sink->written == sink->expected;
        if (!sink->finished || sink->result != CURLE_OK || sink->status != wanted_status || !whole_body) {
            debug_log("[TamsaUpdate]: segment %d incomplete: %llu of %llu bytes, HTTP status %ld \n", sink->index,
                      static_cast<unsigned long long>(sink->written), static_cast<unsigned long long>(sink->expected),
                      sink->status);
            return false;
        }
    }
    return true;
}

std::size_t segment_downloader::on_segment_header(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<segment_sink*>(user);
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    // Every response head (a redirect's too) starts with its status line.
    if (line.starts_with("HTTP/")) {
        sink->content_range.clear();
    } else if (starts_with_ignoring_case(line, "content-range:")) {
        sink->content_range = std::string(trim(line.substr(14)));
    }
    return bytes;
}

bool segment_downloader::check_response_head(segment_sink& sink) {
    long status = 0;
    if (curl_easy_getinfo(sink.handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        return false;
    }
    sink.status = status;
    if (sink.ranged && status == 200) {
        // To a resumed request this says the file has changed; to a fresh one, that ranges are ignored.
        if (sink.held > 0) {
            sink.restart = true;
        } else {
            ranges_refused_ = true;
        }
        return false;
    }
    if (!sink.ranged) {
        if (status != 200) {
            return false;
        }
        curl_off_t length = -1;
        if (sink.expected == 0 &&
            curl_easy_getinfo(sink.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0) {
            sink.expected = static_cast<std::uint64_t>(length);
            std::lock_guard<std::mutex> guard(lock_);
            total_size_ = sink.expected;
        }
        return true;
    }
    const segment_range rest{sink.range.first + static_cast<std::int64_t>(sink.held), sink.range.last};
    const std::string wanted = "bytes " + range_text(rest) + "/";
    const bool range_ok = sink.content_range.starts_with(wanted) &&
                          (sink.content_range.substr(wanted.size()) == std::to_string(total_size_) ||
                           sink.content_range.substr(wanted.size()) == "*");
    if (status != 206 || !range_ok) {
        debug_log("[TamsaUpdate]: segment %d answered HTTP %ld with range \"%s\", wanted \"%s%llu\" \n", sink.index,
                  status, sink.content_range.c_str(), wanted.c_str(), static_cast<unsigned long long>(total_size_));
        return false;
    }
    return true;
}

bool segment_downloader::accept_chunk(segment_sink& sink, std::size_t bytes) {
    if (!sink.checked) {
        sink.checked = true;
        if (!check_response_head(sink)) {
            return false;
        }
    }
    if (sink.expected != 0 && sink.written + bytes > sink.expected) {
        debug_log("[TamsaUpdate]: segment %d sends more than its %llu bytes \n", sink.index,
                  static_cast<unsigned long long>(sink.expected));
        return false;
    }
    return true;
}

std::size_t segment_downloader::on_segment_data(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<segment_sink*>(user);
    if (sink->owner->cancel_requested()) {
        return 0;  // libcurl aborts the transfer with CURLE_WRITE_ERROR
    }
    const std::size_t bytes = size * count;
    if (!sink->owner->accept_chunk(*sink, bytes)) {
        return 0;
    }
    if (!sink->owner->take_chunk(*sink, data, bytes)) {
        return 0;  // libcurl aborts the transfer on a short count
    }
    sink->written += bytes;
    sink->owner->count_progress(static_cast<std::int64_t>(bytes));
    return bytes;
}

bool segment_downloader::take_chunk(segment_sink& sink, const char* data, std::size_t bytes) {
    if (sink.pending_used + bytes > WRITE_BLOCK_BYTES && !flush_pending(sink)) {
        return false;
    }
    if (bytes > WRITE_BLOCK_BYTES) {
        const std::size_t put = std::fwrite(data, 1, bytes, sink.file);
        sink.on_disk += put;
        digest_.grew(static_cast<std::size_t>(sink.index), sink.on_disk);
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
    const std::size_t put = std::fwrite(sink.pending.get(), 1, sink.pending_used, sink.file);
    const bool complete = put == sink.pending_used;
    sink.on_disk += put;
    sink.pending_used = 0;
    digest_.grew(static_cast<std::size_t>(sink.index), sink.on_disk);
    return complete;
}

void segment_downloader::flush_all_pending() {
    for (const auto& sink : sinks_) {
        if (!flush_pending(*sink) && sink->result == CURLE_OK) {
            sink->result = CURLE_WRITE_ERROR;
        }
        sink->pending.reset();
    }
}

void segment_downloader::count_progress(std::int64_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    bytes_done_ += static_cast<std::uint64_t>(bytes);  // a restart takes bytes back
    if (flags_.paused != nullptr && flags_.paused->load()) {
        return;
    }
    const progress_values values = scale_progress(total_size_, bytes_done_);
    // A window that is gone drops the message; the download goes on regardless.
    (void)platform::post_message(window_, WM_DOWNLOAD_PROGRESS, values.total, values.done);
}
