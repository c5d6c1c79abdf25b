// package_fetch: runs one package download attempt the way the updater does
// (segmented download, join, digest check on a worker thread, progress posted
// to a window of the main thread) and prints one line of figures.
//
//   package_fetch [--retries N] URL TARGET_PATH [MD5]   exit 0 when the package is ready
//   package_fetch --md5 FILE                            the file's digest and the time it took
//
// --retries N: a failed attempt is followed by up to N more, as the user's
// Retry would; each keeps what the earlier ones wrote when the host allows.
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "core/update_task.h"
#include "download/md5.h"
#include "download/package_download.h"
#include "download/resume_store.h"
#include "platform/message_queue.h"

namespace {

// Counts the progress messages and notes the completion message.
class progress_counter : public platform::message_handler {
public:
    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam w,
                                     platform::lparam) override {
        if (id == WM_DOWNLOAD_PROGRESS) {
            ++progress_messages;
        } else if (id == WM_DOWNLOAD_DONE) {
            done = true;
            ready = w == 1;
        }
        return 0;
    }
    unsigned long long progress_messages = 0;
    bool done = false;
    bool ready = false;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

unsigned long long file_size_of(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<unsigned long long>(size);
}

int digest_only(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    std::string digest;
    file_md5(path, digest);
    std::printf("md5=%s bytes=%llu seconds=%.3f\n", digest.c_str(), file_size_of(path), seconds_since(start));
    return 0;
}

int fetch(const std::string& url, const std::string& target, const std::string& expected_md5, int retries) {
    update_task task;
    task.package_md5 = expected_md5;
    task.package_path = target;
    progress_counter counter;
    task.progress_window = platform::register_window(&counter);

    const auto start = std::chrono::steady_clock::now();
    int attempts = 0;
    // The same attempts as the updater's worker: download, verify, store, post.
    std::thread worker([&task, &attempts, url, retries] {
        bool ok = false;
        while (!ok && attempts <= retries) {
            ++attempts;
            ok = fetch_package(task, encoded_package_url(url));
        }
        task.package_state.store(ok ? package_ready : package_failed, std::memory_order_release);
        (void)platform::post_message(task.progress_window, WM_DOWNLOAD_DONE, ok ? 1 : 0, 0);
    });
    platform::message msg;
    while (!counter.done && platform::get_message(msg)) {
        platform::dispatch_message(msg);
    }
    worker.join();
    const double seconds = seconds_since(start);
    platform::unregister_window(task.progress_window);

    const bool ready = counter.ready && task.package_state.load() == package_ready;
    std::printf("ok=%d bytes=%llu seconds=%.3f messages=%llu attempts=%d resumed=%llu\n", ready ? 1 : 0,
                file_size_of(target), seconds, counter.progress_messages, attempts,
                static_cast<unsigned long long>(resumed_bytes_total()));
    return ready ? 0 : 1;
}

// The count after --retries: a whole number from 0 to 100, else -1.
int parse_retries(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0 && value <= 100 ? static_cast<int>(value) : -1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: package_fetch [--retries N] URL TARGET_PATH [MD5]\n"
                 "       package_fetch --md5 FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--md5") == 0) {
        return digest_only(argv[2]);
    }
    int retries = 0;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--retries") == 0) {
        retries = parse_retries(argv[2]);
        first = 3;
    }
    const int rest = argc - first;
    if (retries < 0 || (rest != 2 && rest != 3)) {
        return usage();
    }
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        std::fprintf(stderr, "curl_global_init failed\n");
        return 1;
    }
    const int code = fetch(argv[first], argv[first + 1], rest == 3 ? argv[first + 2] : "", retries);
    curl_global_cleanup();
    return code;
}
