// The segmented download engine: set-up, the transfer loop and the checks
// that decide whether every segment delivered exactly its range.
#include "download/segment_downloader.h"

#include <string_view>

#include "core/text_utils.h"
#include "core/update_messages.h"
#include "platform/files.h"
#include "platform/message_queue.h"

namespace {

// The longest wait for socket activity per pass, so the cancel flag is seen promptly.
constexpr int MAX_WAIT_MS = 1000;
// libcurl's receive buffer; larger chunks mean fewer writes and messages.
constexpr long RECEIVE_BUFFER_BYTES = 256 * 1024;
constexpr long MAX_REDIRECTS = 5;
constexpr std::size_t PART_BUFFER_BYTES = 1024 * 1024;

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
    : url_(url), probe_url_(probe_url), target_path_(target_path), window_(window), flags_(flags), limits_(limits) {}

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
    release_transfers();
    const bool complete = !cancelled_ && !setup_failed_ && !ranges_refused_ && segments_complete();
    std::uint64_t expected_bytes = 0;
    for (const auto& sink : sinks_) {
        expected_bytes += sink->written;
    }
    sinks_.clear();
    if (!complete) {
        debug_log("[TamsaUpdate]: download of %s failed \n", url_.c_str());
        discard_parts();
        return false;
    }
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
    multi_ = curl_multi_init();
    if (multi_ == nullptr) {
        debug_log("[TamsaUpdate]: curl_multi_init failed \n");
        setup_failed_ = true;
        return;
    }
    total_size_ = query_content_length(probe_url_);
    const std::vector<segment_range> plan = plan_segments(total_size_, segment_count);
    if (plan.empty()) {
        // No usable length, or fewer bytes than segments: one whole transfer.
        prepare_whole_download();
        return;
    }
    for (std::uint32_t i = 0; i < plan.size(); ++i) {
        if (!add_segment(static_cast<int>(i), &plan[i])) {
            return;
        }
    }
    // Multiplexing is a wish; a libcurl without HTTP/2 refuses it and uses one connection per segment.
    (void)curl_multi_setopt(multi_, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    int running = 0;
    // Transfer errors surface in the loop; this call only starts the requests.
    (void)curl_multi_perform(multi_, &running);
}

void segment_downloader::prepare_whole_download() {
    if (multi_ == nullptr) {
        multi_ = curl_multi_init();
    }
    if (multi_ == nullptr) {
        debug_log("[TamsaUpdate]: curl_multi_init failed \n");
        setup_failed_ = true;
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        bytes_done_ = 0;
    }
    (void)add_segment(0, nullptr);
}

bool segment_downloader::add_segment(int index, const segment_range* range) {
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        debug_log("prepare_download curl_easy_init failed \n");
        setup_failed_ = true;
        return false;
    }
    // A whole-file transfer is set up with an empty range (last before first).
    const std::int64_t first = range != nullptr ? range->first : 0;
    const std::int64_t last = range != nullptr ? range->last : -1;
    const std::size_t stored = handles_.size();
    const bool configured = setup_segment(handle, index, first, last);
    if (handles_.size() == stored) {
        curl_easy_cleanup(handle);
    }
    if (!configured || curl_multi_add_handle(multi_, handle) != CURLM_OK) {
        setup_failed_ = true;
        return false;
    }
    return true;
}

bool segment_downloader::setup_segment(CURL* handle, int index, std::int64_t first, std::int64_t last) {
    const std::string path = part_path_of(target_path_, index);
    part_names_.push_back(path);
    std::FILE* file = std::fopen(path.c_str(), "wb+");
    if (file == nullptr) {
        debug_log("[TamsaUpdate]: part file %s cannot be created \n", path.c_str());
        return false;
    }
    // libcurl hands over at most 16 KiB per call; a larger stdio buffer turns
    // those into few large writes. Without it stdio's own buffer serves.
    auto buffer = std::make_unique<char[]>(PART_BUFFER_BYTES);
    if (std::setvbuf(file, buffer.get(), _IOFBF, PART_BUFFER_BYTES) == 0) {
        part_buffers_.push_back(std::move(buffer));
    }
    auto sink = std::make_unique<segment_sink>();
    sink->file = file;
    sink->owner = this;
    sink->index = index;
    sink->handle = handle;
    sink->ranged = last >= first;
    sink->range = {first, last};
    sink->expected = sink->ranged ? sink->range.length() : total_size_;

    bool ok = set_common_options(handle, url_, limits_);
    if (sink->ranged) {
        ok = curl_easy_setopt(handle, CURLOPT_RANGE, range_text(sink->range).c_str()) == CURLE_OK && ok;
    }
    ok = curl_easy_setopt(handle, CURLOPT_WRITEDATA, sink.get()) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &segment_downloader::on_segment_data) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_HEADERDATA, sink.get()) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &segment_downloader::on_segment_header) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_PRIVATE, sink.get()) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, RECEIVE_BUFFER_BYTES) == CURLE_OK && ok;
    // HTTP/2 where TLS negotiates it; refused by a libcurl without HTTP/2, and
    // then the segments travel as HTTP/1.1, one connection each.
    (void)curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // Waiting to share one connection only pays when the host is known to
    // multiplex; with an HTTP/1.1 host the waiting segments would queue up
    // behind the first one on its connection instead of running in parallel.
    (void)curl_easy_setopt(handle, CURLOPT_PIPEWAIT, probe_multiplexed_ ? 1L : 0L);

    sinks_.push_back(std::move(sink));
    handles_.push_back(handle);
    part_files_.push_back(file);
    return ok;
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
        }
        long version = CURL_HTTP_VERSION_NONE;
        probe_multiplexed_ = curl_easy_getinfo(handle, CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
                             (version == CURL_HTTP_VERSION_2_0 || version == CURL_HTTP_VERSION_3);
    }
    curl_easy_cleanup(handle);
    return length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

void segment_downloader::run_transfer_loop() {
    if (multi_ == nullptr) {
        return;
    }
    int running = 0;
    for (;;) {
        CURLMcode code = curl_multi_perform(multi_, &running);
        if (code != CURLM_OK) {
            debug_log("[TamsaUpdate]: curl_multi_perform failed, code %d \n", static_cast<int>(code));
            setup_failed_ = true;
            break;
        }
        collect_finished();
        if (running == 0 || ranges_refused_) {
            break;
        }
        // Checked every pass, so a stop ends the loop even when no data arrives.
        if (cancel_requested()) {
            cancelled_ = true;
            break;
        }
        code = curl_multi_poll(multi_, nullptr, 0, MAX_WAIT_MS, nullptr);
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

void segment_downloader::collect_finished() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg != CURLMSG_DONE) {
            continue;
        }
        segment_sink* sink = nullptr;
        if (curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &sink) != CURLE_OK || sink == nullptr) {
            continue;
        }
        sink->finished = true;
        sink->result = msg->data.result;
        long status = 0;
        if (curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
            sink->status = status;
        }
        if (sink->result != CURLE_OK && !ranges_refused_) {
            debug_log("[TamsaUpdate]: segment %d ended with \"%s\" after %llu bytes, HTTP status %ld \n", sink->index,
                      curl_easy_strerror(sink->result), static_cast<unsigned long long>(sink->written), sink->status);
        }
    }
}

void segment_downloader::release_transfers() {
    for (CURL* handle : handles_) {
        if (multi_ != nullptr) {
            // A handle that never made it into the multi handle reports an error here; nothing to do about it.
            (void)curl_multi_remove_handle(multi_, handle);
        }
        curl_easy_cleanup(handle);
    }
    handles_.clear();
    if (multi_ != nullptr) {
        (void)curl_multi_cleanup(multi_);
        multi_ = nullptr;
    }
}

void segment_downloader::discard_parts() {
    for (std::FILE*& file : part_files_) {
        if (file != nullptr) {
            (void)std::fclose(file);  // the content is thrown away anyway
            file = nullptr;
        }
    }
    part_files_.clear();
    part_buffers_.clear();
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
        ranges_refused_ = true;
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
    const std::string wanted = "bytes " + range_text(sink.range) + "/";
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
    const std::size_t written = std::fwrite(data, 1, bytes, sink->file);
    sink->written += written;
    sink->owner->count_progress(written);
    // A short write makes libcurl abort the transfer.
    return written;
}

void segment_downloader::count_progress(std::size_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    bytes_done_ += bytes;
    if (flags_.paused != nullptr && flags_.paused->load()) {
        return;
    }
    const progress_values values = scale_progress(total_size_, bytes_done_);
    // A window that is gone drops the message; the download goes on regardless.
    (void)platform::post_message(window_, WM_DOWNLOAD_PROGRESS, values.total, values.done);
}
