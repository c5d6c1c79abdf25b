// The libcurl side of the segmented download engine: one segment transfer's
// state and the handles of one attempt. Private to download/.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "download/segment_plan.h"

class segment_downloader;
struct transfer_limits;

// Options shared by the probe and the segments: certificate checks off,
// redirects followed, and bounds that end a dead or stalled transfer.
bool set_common_options(CURL* handle, const std::string& url, const transfer_limits& limits,
                        const std::atomic<bool>* cancelled);
// curl_easy_perform on a handle set up for it, which gives up within a
// tenth of a second or so once cancelled is set (CURLE_ABORTED_BY_CALLBACK).
CURLcode perform_watched(CURL* handle, const std::atomic<bool>* cancelled);

// The state of one segment transfer; the user data of its callbacks.
struct segment_sink {
    std::FILE* file = nullptr;  // not owned
    segment_downloader* owner = nullptr;
    std::int32_t index = 0;
    CURL* handle = nullptr;  // not owned; null when nothing is left to fetch
    bool ranged = false;     // false: the whole file in one transfer
    segment_range range;
    std::uint64_t expected = 0;  // bytes the part file must end with; 0 when unknown
    std::uint64_t held = 0;      // bytes an earlier attempt left that this one keeps
    std::uint64_t written = 0;   // bytes taken for the part file, held ones included
    std::uint64_t on_disk = 0;   // of those, the bytes already written to the part file
    std::uint64_t reported = 0;  // of those, the bytes the digest thread has been told of
    // Chunks gathered into one write: libcurl hands over at most 16 KiB at a time.
    std::unique_ptr<char[]> pending;
    std::size_t pending_used = 0;
    std::string if_range;   // the validator sent with a resumed request
    bool checked = false;   // the response head was checked at the first chunk
    bool finished = false;  // libcurl reported the transfer done (or none was needed)
    bool paused = false;    // waiting so the digest gets the first segment's bytes sooner
    bool restart = false;   // the host refused to resume: fetch the segment again from zero
    CURLcode result = CURLE_OK;
    long status = 0;
    std::string content_range;              // of the last response head
    std::string etag;                       // of the last response head
    std::string last_modified;              // of the last response head
    curl_slist* request_headers = nullptr;  // owned; the If-Range line of a resumed request
};

// The libcurl handles of one attempt.
struct transfer_set {
    CURLM* multi = nullptr;
    std::vector<CURL*> handles;
};
