// The segmented download engine: set-up, the transfer loop and the checks
// that decide whether every segment delivered exactly its range.
#include "download/segment_downloader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/run_log.h"
#include "core/text_utils.h"
#include "core/update_messages.h"
#include "download/own_files.h"
#include "download/resume_store.h"
#include "download/segment_transfer.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/message_queue.h"
#include "platform/network.h"
#include "platform/proxy.h"

namespace {

// The longest wait for socket activity per pass, so that a stop is seen well
// within a second even when no data arrives.
constexpr int MAX_WAIT_MS = 100;
// The same while segments wait for the digest: how soon the wait is looked at again.
constexpr int PACED_WAIT_MS = 5;
constexpr long MAX_REDIRECTS = 5;

// libcurl's own trace of a transfer, to the debug output only: never into
// the log file, which others may read. Its credentials (a proxy address's
// password, the Authorization headers it makes of it, cookies) are cut even
// there. Off unless TAMSA_CURL_TRACE is set: it is many lines per segment.
int trace_line(CURL*, curl_infotype type, char* data, std::size_t size, void*) {
    if (type == CURLINFO_TEXT || type == CURLINFO_HEADER_IN || type == CURLINFO_HEADER_OUT) {
        const std::string_view text(data, std::min<std::size_t>(size, 1024));
        platform::debug_output(without_credentials("[TamsaUpdate] curl: " + std::string(text)));
    }
    return 0;
}

void set_trace(CURL* handle) {
    const char* wanted = std::getenv("TAMSA_CURL_TRACE");
    if (wanted == nullptr || *wanted == '\0' || std::strcmp(wanted, "0") == 0) {
        return;
    }
    // Through the debug output, which drops lines rather than wait for a slow reader.
    (void)curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, &trace_line);
    (void)curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
}

}  // namespace

bool set_common_options(CURL* handle, const std::string& url, const transfer_limits& limits,
                        const std::atomic<bool>* cancelled) {
    bool ok = curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_MAXREDIRS, MAX_REDIRECTS) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connect_timeout_s) == CURLE_OK && ok;
    // Less than one byte per second over the stall time: nothing came.
    ok = curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.stall_s) == CURLE_OK && ok;
    // The system's proxy settings (Windows); libcurl reads the environment
    // itself. A stop ends the lookup as it ends a transfer.
    const std::string proxy = platform::proxy_for_request(url, cancelled);
    if (!proxy.empty()) {
        ok = curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str()) == CURLE_OK && ok;
    }
    return ok;
}

CURLcode perform_watched(CURL* handle, const std::atomic<bool>* cancelled) {
    CURLM* multi = curl_multi_init();
    if (multi == nullptr) {
        return CURLE_OUT_OF_MEMORY;
    }
    if (curl_multi_add_handle(multi, handle) != CURLM_OK) {
        (void)curl_multi_cleanup(multi);
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    for (;;) {
        if (cancelled != nullptr && cancelled->load()) {
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        CURLMsg* msg = curl_multi_info_read(multi, &left);
        if (msg != nullptr && msg->msg == CURLMSG_DONE) {
            result = msg->data.result;
            break;
        }
        if (curl_multi_poll(multi, nullptr, 0, MAX_WAIT_MS, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    (void)curl_multi_remove_handle(multi, handle);
    (void)curl_multi_cleanup(multi);
    return result;
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
      limits_(limits),
      package_rate_(limits.min_rate_bytes, std::chrono::seconds(limits.rate_window_s)) {}

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
    if (joined_ != nullptr) (void)std::fclose(joined_);  // complete or not, it was written through this stream only
}

std::FILE* segment_downloader::take_package_file() {
    return std::exchange(joined_, nullptr);
}

double segment_downloader::seconds_since_start() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

bool segment_downloader::download() {
    started_ = std::chrono::steady_clock::now();
    timings_ = {};
    if (!check_file_name_validate()) {
        return false;
    }
    prepare_download();
    run_transfer_loop();
    if (ranges_refused_ && !cancelled_ && !setup_failed_ && !stalled_ && !html_answer_) {
        refetch_whole();
    }
    flush_all_pending();
    release_transfers();
    timings_.transfers_s = seconds_since_start();
    count_resumed_bytes(resumed_bytes_);
    const bool complete = !cancelled_ && !setup_failed_ && !ranges_refused_ && !stalled_ && !html_answer_ &&
                          !file_changed_ && segments_complete();
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
    return join_parts(expected_bytes) && !joined_file_is_web_page();
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
    if (joined_ != nullptr) {
        (void)platform::truncate_file(joined_);
        (void)std::fclose(joined_);  // empty either way
        joined_ = nullptr;
    }
    return false;
}

// The target is made here, new and ours, before anything is fetched, and
// held open until the caller takes it: its name is never opened again.
bool segment_downloader::check_file_name_validate() {
    if (joined_ != nullptr) (void)std::fclose(joined_);
    joined_ = create_download_file(target_path_, "the package");
    if (joined_ == nullptr) {
        debug_log("[TamsaUpdate] check_file_name_validate :%s invalidate \n", target_path_.c_str());
        return false;
    }
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
    timings_.probe_s = seconds_since_start();
    if (cancel_requested() || stalled_ || html_answer_) {
        return;  // nothing to fetch: the attempt has already failed
    }
    const std::vector<segment_range> plan = plan_segments(total_size_, segment_count);
    // What an earlier attempt left is used now or never.
    std::optional<resume_point> point = take_resume_point(url_, target_path_);
    const std::vector<std::uint64_t> held = resumable_bytes(plan, point);
    if (!room_for_package(held)) {
        if (point) keep_resume_point(std::move(*point));  // its parts may serve once there is room
        setup_failed_ = true;
        return;
    }
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

// The part files and the joined copy each take the whole package, less what
// kept part files already hold; a package of unknown size is not judged.
bool segment_downloader::room_for_package(const std::vector<std::uint64_t>& held) const {
    if (total_size_ == 0) return true;
    std::uint64_t kept = 0;
    for (const std::uint64_t bytes : held) kept += bytes;
    const std::uint64_t needed = 2 * total_size_ - std::min(kept, total_size_);
    const std::optional<std::uint64_t> free = platform::free_space(module_dir());
    if (!free || *free >= needed) return true;
    debug_log("[TamsaUpdate]: not enough free space for the package: %llu bytes needed in %s, %llu free \n",
              static_cast<unsigned long long>(needed), module_dir().c_str(), static_cast<unsigned long long>(*free));
    return false;
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
    if (!digest_.start(part_files_, lengths, signature_hash_wanted_)) {
        return;  // the package's digest is then read from the joined file
    }
    for (const auto& sink : sinks_) {
        sink->reported = sink->written;
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

// One request for what the segment still lacks; a resumed one carries the
// validator, so a host whose file has changed answers with the whole file.
bool segment_downloader::start_transfer(segment_sink& sink) {
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        debug_log("prepare_download curl_easy_init failed \n");
        return false;
    }
    bool ok = set_common_options(handle, url_, limits_, flags_.cancelled);
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
    set_trace(handle);
    const auto receive_buffer = static_cast<long>(platform::receive_buffer_bytes());
    ok = curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, receive_buffer) == CURLE_OK && ok;
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

void segment_downloader::run_transfer_loop() {
    if (transfers_->multi == nullptr) {
        return;
    }
    int running = 0;
    package_rate_.start(rate_watch::clock::now(), received_);
    for (;;) {
        CURLMcode code = curl_multi_perform(transfers_->multi, &running);
        if (code != CURLM_OK) {
            debug_log("[TamsaUpdate]: curl_multi_perform failed, code %d \n", static_cast<int>(code));
            setup_failed_ = true;
            break;
        }
        collect_finished();
        if (setup_failed_ || ranges_refused_ || stalled_ || html_answer_ || file_changed_) {
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
        if (package_too_slow()) {
            stalled_ = true;
            break;
        }
        pace_segments();
        code = curl_multi_poll(transfers_->multi, nullptr, 0, pacing_.holding() ? PACED_WAIT_MS : MAX_WAIT_MS, nullptr);
        if (code != CURLM_OK) {
            debug_log("[TamsaUpdate]: curl_multi_poll failed, code %d \n", static_cast<int>(code));
            setup_failed_ = true;
            break;
        }
    }
    if (cancel_requested()) {
        cancelled_ = true;
    }
}

// The whole package's rate over the last window, below the bound: one line
// that names the stall.
bool segment_downloader::package_too_slow() {
    if (!package_rate_.too_slow(rate_watch::clock::now(), received_)) {
        return false;
    }
    debug_log("[TamsaUpdate]: download of %s stalled: %llu bytes in the last %ld s, below %llu bytes/s \n",
              url_.c_str(), static_cast<unsigned long long>(package_rate_.window_bytes()), limits_.rate_window_s,
              static_cast<unsigned long long>(limits_.min_rate_bytes));
    return true;
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
        report_to_digest(*sink, true);
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
        if (sink->result == CURLE_OPERATION_TIMEDOUT) {
            // One stalled connection ends the attempt; the others' bytes stay for a retry.
            debug_log("[TamsaUpdate]: segment %d stalled: no data for %ld s after %llu bytes \n", sink->index,
                      limits_.stall_s, static_cast<unsigned long long>(sink->written));
            stalled_ = true;
        } else if (sink->result != CURLE_OK && !ranges_refused_ && !html_answer_) {
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
    sink->owner->received_ += bytes;
    sink->owner->count_progress(static_cast<std::int64_t>(bytes));
    return bytes;
}

void segment_downloader::count_progress(std::int64_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    bytes_done_ += static_cast<std::uint64_t>(bytes);  // a restart takes bytes back
    if (flags_.paused != nullptr && flags_.paused->load()) {
        return;
    }
    const progress_values values = scale_progress(total_size_, bytes_done_);
    // A message only when the bar's step moves (a restart moves it back): a
    // post per chunk costs the worker a system call and the window thread a
    // wake-up each, which under Wine are trips to its server.
    const std::uint32_t step = progress_step(values.total, values.done);
    if (posted_step_ == step) {
        return;
    }
    posted_step_ = step;
    // A window that is gone drops the message; the download goes on regardless.
    (void)platform::post_message(window_, WM_DOWNLOAD_PROGRESS, values.total, values.done);
    ++timings_.progress_posts;
}
