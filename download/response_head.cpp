// Response heads of the package host: the size probe, the validator that
// proves two answers come from the same file, and the check of each
// segment's status and Content-Range.
#include "download/response_head.h"

#include <mutex>

#include "core/text_utils.h"
#include "download/segment_downloader.h"
#include "download/segment_transfer.h"

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

std::string validator_of(const std::string& etag, const std::string& last_modified) {
    return validator_of("ETag: " + etag + "\nLast-Modified: " + last_modified + "\n");
}

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// After a tag's name: what may follow it in a start tag.
bool ends_tag_name(std::string_view rest) {
    return rest.empty() || is_blank(rest.front()) || rest.front() == '>' || rest.front() == '/';
}

// Skips text up to and including end; false when end does not come.
bool skip_past(std::string_view& text, std::string_view end) {
    const std::size_t at = text.find(end);
    if (at == std::string_view::npos) return false;
    text.remove_prefix(at + end.size());
    return true;
}

}  // namespace

bool starts_like_web_page(std::string_view body) {
    if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
    for (;;) {
        while (!body.empty() && is_blank(body.front())) body.remove_prefix(1);
        if (starts_with_ignoring_case(body, "<?xml")) {
            if (!skip_past(body, "?>")) return false;
        } else if (body.starts_with("<!--")) {
            if (!skip_past(body, "-->")) return false;
        } else {
            break;
        }
    }
    if (starts_with_ignoring_case(body, "<!doctype") && starts_with_ignoring_case(trim(body.substr(9)), "html")) {
        return true;
    }
    // The elements a page may open with (the web's own content sniffing list, and a few more).
    static constexpr std::string_view TAGS[] = {"html", "head",  "body", "script",   "iframe", "title",   "meta",
                                                "link", "style", "div",  "table",    "font",   "h1",      "p",
                                                "a",    "b",     "br",   "frameset", "form",   "noscript"};
    if (!body.starts_with('<')) return false;
    body.remove_prefix(1);
    for (const std::string_view tag : TAGS) {
        if (starts_with_ignoring_case(body, tag) && ends_tag_name(body.substr(tag.size()))) return true;
    }
    return false;
}

namespace {

long status_of(CURL* handle) {
    long status = 0;
    return curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK ? status : 0;
}

// A package is never served as a web page; an HTML answer is a captive
// portal's login page, a proxy's error page or a host's "not found" page.
bool is_web_page(CURL* handle) {
    const char* type = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type) != CURLE_OK || type == nullptr) {
        return false;
    }
    const std::string_view text = trim(type);
    return starts_with_ignoring_case(text, "text/html") || starts_with_ignoring_case(text, "application/xhtml");
}

void log_web_page(const std::string& url, long status) {
    debug_log("[TamsaUpdate]: %s answered HTTP %ld with a web page, not the package \n", url.c_str(), status);
}

}  // namespace

std::uint64_t segment_downloader::query_content_length(const std::string& url) {
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        return 0;
    }
    std::string headers;
    bool ok = set_common_options(handle, url, limits_, flags_.cancelled);
    ok = curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "GET") == CURLE_OK && ok;
    (void)curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    ok = curl_easy_setopt(handle, CURLOPT_NOBODY, 1L) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &collect_header) == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_HEADERDATA, &headers) == CURLE_OK && ok;
    curl_off_t length = -1;
    long status = 0;
    CURLcode result = CURLE_FAILED_INIT;
    if (ok) {
        result = perform_watched(handle, flags_.cancelled);
    }
    if (result == CURLE_OPERATION_TIMEDOUT) {
        debug_log("[TamsaUpdate]: size probe of %s stalled: no answer for %ld s \n", url.c_str(), limits_.stall_s);
        stalled_ = true;
    }
    // With a digest or signature to check, the label alone decides nothing.
    if (result == CURLE_OK && is_web_page(handle) && !verification_follows_) {
        log_web_page(url, status_of(handle));
        html_answer_ = true;
    }
    if (result == CURLE_OK && !html_answer_ && curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
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

std::size_t segment_downloader::on_segment_header(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<segment_sink*>(user);
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    // Every response head (a redirect's too) starts with its status line.
    if (line.starts_with("HTTP/")) {
        sink->content_range.clear();
        sink->etag.clear();
        sink->last_modified.clear();
    } else if (starts_with_ignoring_case(line, "content-range:")) {
        sink->content_range = std::string(trim(line.substr(14)));
    } else if (starts_with_ignoring_case(line, "etag:")) {
        sink->etag = std::string(trim(line.substr(5)));
    } else if (starts_with_ignoring_case(line, "last-modified:")) {
        sink->last_modified = std::string(trim(line.substr(14)));
    }
    return bytes;
}

bool segment_downloader::check_response_head(segment_sink& sink) {
    long status = 0;
    if (curl_easy_getinfo(sink.handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        return false;
    }
    sink.status = status;
    if (sink.index == 0) first_status_ = status;
    if (is_web_page(sink.handle)) {
        if (!verification_follows_) {
            log_web_page(url_, status);
            html_answer_ = true;
            return false;
        }
        labelled_page_ = true;
    }
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
    return same_file_as_probe(sink);
}

// The joined package's first bytes: a body that starts as a web page is a
// failed attempt (its file emptied) unless a digest or signature check
// follows, which then decides alone.
bool segment_downloader::joined_file_is_web_page() {
    std::string start(1024, '\0');
    std::FILE* file = std::fopen(target_path_.c_str(), "rb");
    const std::size_t got = file != nullptr ? std::fread(start.data(), 1, start.size(), file) : 0;
    if (file != nullptr) (void)std::fclose(file);
    start.resize(got);
    const bool shaped = starts_like_web_page(start);
    if (verification_follows_) {
        if (shaped || labelled_page_) {
            debug_log(
                "[TamsaUpdate]: %s answered HTTP %ld with what looks like a web page; its digest or signature decides "
                "\n",
                url_.c_str(), first_status_);
        }
        return false;
    }
    if (!shaped) return false;
    log_web_page(url_, first_status_);
    html_answer_ = true;
    if (std::FILE* target = std::fopen(target_path_.c_str(), "wb")) {
        (void)std::fclose(target);  // a page must not look like a finished package
    }
    return true;
}

// Ranges from two versions of the file (mirrors behind a redirect, a file
// replaced between the probe and the ranges) would make one corrupt
// package: every range answer must carry the probe's validator, or, when
// the probe had none, the one the first range answer carried.
bool segment_downloader::same_file_as_probe(segment_sink& sink) {
    const std::string answer = validator_of(sink.etag, sink.last_modified);
    if (range_validator_.empty()) {
        range_validator_ = validator_.empty() ? answer : validator_;
    }
    if (answer == range_validator_) {
        return true;
    }
    debug_log("[TamsaUpdate]: segment %d comes from another version of the file (\"%s\", expected \"%s\") \n",
              sink.index, answer.c_str(), range_validator_.c_str());
    file_changed_ = true;
    return false;
}
