// package_fetch: runs one package download attempt the way the updater does
// (segmented download, join, digest check on a worker thread, progress posted
// to a window of the main thread) and prints one line of figures.
//
//   package_fetch [OPTIONS] URL TARGET_PATH [MD5]   exit 0 when the package is ready
//   package_fetch --md5 FILE                        the file's digest and the time it took
//
// --retries N: a failed attempt is followed by up to N more, as the user's
// Retry would; each keeps what the earlier ones wrote when the host allows.
// --pubkey FILE (repeatable): release public keys (as `minisign -G` writes
// them) to check the package's signature against instead of the program's
// own; --signature FILE: the package's .minisig; --version V: the version it
// is announced as; --product P: the product as the updater's -prod names it
// (encoded as the update query sends it); --running-version V: the version
// the product runs now, which V must be newer than. When keys are in effect
// a second line says "signature=verified key=KEYID" or "signature=refused
// reason=WORD", and a refused package is deleted and ends with a status
// other than 0.
// --timings: one more line, "timings: ...", with where the last attempt's
// time went (seconds from its start to the end of each phase, the part
// writes and the digest's own work, the writes and progress messages per MiB).
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

void print_timings(const download_timings& t, unsigned long long bytes, double seconds) {
    const double mib = bytes > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) : 1.0;
    std::printf(
        "timings: probe=%.3f transfers=%.3f join=%.3f digest_tail=%.3f total=%.3f part_writes=%.3fs"
        " digest_busy=%.3fs writes_per_mib=%.1f progress_posts_per_mib=%.1f\n",
        t.probe_s, t.transfers_s, t.join_s, t.digest_tail_s, seconds, t.part_writes_s, t.digest_busy_s,
        static_cast<double>(t.part_writes) / mib, static_cast<double>(t.progress_posts) / mib);
}

struct options {
    int retries = 0;
    bool timings = false;
    std::vector<std::string> pubkeys;
    std::string signature_file;
    std::string version;
    std::string product;
    std::string running_version;
    std::vector<std::string> positional;
};

bool read_text_file(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return !in.bad();
}

// The keys given on the command line, or the program's own when none were.
bool signature_check_for(const options& opts, signature_check& check) {
    if (opts.pubkeys.empty()) {
        check = compiled_signature_check();
        return true;
    }
    check.required = true;
    for (const std::string& path : opts.pubkeys) {
        std::string text;
        release_key key;
        if (!read_text_file(path, text) || !parse_release_key(text, key)) {
            std::fprintf(stderr, "package_fetch: %s is not a minisign public key\n", path.c_str());
            return false;
        }
        check.keys.push_back(key);
    }
    return true;
}

int fetch(const options& opts) {
    const std::string& url = opts.positional[0];
    const std::string& target = opts.positional[1];
    const int retries = opts.retries;
    signature_check check;
    if (!signature_check_for(opts, check)) {
        return 2;
    }
    update_task task;
    task.package_md5 = opts.positional.size() == 3 ? opts.positional[2] : "";
    task.package_version = opts.version;
    task.product = opts.product;
    task.version = opts.running_version;
    if (!opts.signature_file.empty() && !read_text_file(opts.signature_file, task.package_signature)) {
        std::fprintf(stderr, "package_fetch: %s cannot be read\n", opts.signature_file.c_str());
        return 2;
    }
    task.package_path = target;
    progress_counter counter;
    task.progress_window = platform::register_window(&counter);

    const auto start = std::chrono::steady_clock::now();
    int attempts = 0;
    // The same attempts as the updater's worker: download, verify, store, post.
    download_timings timings;
    std::thread worker([&task, &attempts, &check, &timings, url, retries] {
        bool ok = false;
        while (!ok && attempts <= retries) {
            ++attempts;
            ok = fetch_package(task, encoded_package_url(url), {}, &check, &timings);
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
    if (opts.timings) print_timings(timings, file_size_of(target), seconds);
    if (check.required) {
        if (check.verdict.verified) {
            std::printf("signature=verified key=%s\n", check.verdict.key_id.c_str());
        } else if (!check.verdict.reason.empty()) {
            std::printf("signature=refused reason=%s\n", check.verdict.reason.c_str());
        } else {
            std::printf("signature=refused reason=not-downloaded\n");
        }
    }
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
                 "usage: package_fetch [--retries N] [--timings] [--pubkey FILE]... [--signature FILE] [--version V]\n"
                 "                     [--product P] [--running-version V] URL TARGET_PATH [MD5]\n"
                 "       package_fetch --md5 FILE\n");
    return 2;
}

}  // namespace

// Options take their value from the next argument; the rest are positional.
bool parse_options(int argc, char** argv, options& opts) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--retries" && has_value) {
            opts.retries = parse_retries(argv[++i]);
            if (opts.retries < 0) return false;
        } else if (arg == "--timings") {
            opts.timings = true;
        } else if (arg == "--pubkey" && has_value) {
            opts.pubkeys.emplace_back(argv[++i]);
        } else if (arg == "--signature" && has_value) {
            opts.signature_file = argv[++i];
        } else if (arg == "--version" && has_value) {
            opts.version = argv[++i];
        } else if (arg == "--product" && has_value) {
            opts.product = argv[++i];
        } else if (arg == "--running-version" && has_value) {
            opts.running_version = argv[++i];
        } else if (arg.starts_with("--")) {
            return false;
        } else {
            opts.positional.push_back(arg);
        }
    }
    return opts.positional.size() == 2 || opts.positional.size() == 3;
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--md5") == 0) {
        return digest_only(argv[2]);
    }
    options opts;
    if (!parse_options(argc, argv, opts)) {
        return usage();
    }
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        std::fprintf(stderr, "curl_global_init failed\n");
        return 1;
    }
    const int code = fetch(opts);
    curl_global_cleanup();
    return code;
}
