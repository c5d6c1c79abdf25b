// The package download job: the worker thread, the package path and one
// attempt of download and digest check.
#include "download/package_download.h"

#include <system_error>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "platform/message_queue.h"
#include "platform/text_rules.h"

std::string package_file_name(const std::string& encoded_url) {
    return std::string(platform::last_path_component(std::string_view(encoded_url)));
}

std::string encoded_package_url(const std::string& package_url) {
    return url_encode_path(ansi_to_utf8(package_url));
}

std::string package_path_for(const std::string& package_url) {
    return module_dir() + package_file_name(encoded_package_url(package_url));
}

bool fetch_package(update_task& task, const std::string& encoded_url, transfer_limits limits) {
    segment_downloader engine(encoded_url, encoded_url, task.package_path, task.progress_window,
                              download_flags{&task.progress_paused, &g_update_cancelled}, limits);
    if (!engine.download()) {
        return false;
    }
    // The digest taken while the package arrived spares reading it again.
    if (!engine.package_digest().empty()) {
        return package_digest_matches(task.package_md5, engine.package_digest());
    }
    return task.verify_package_md5();
}

namespace {

// The package is written beside the program under the name the address
// ends with. ".." or a name with a backslash or a colon (a drive, an
// alternate stream) after the last "/" would put it elsewhere on Windows; it
// is refused rather than cut down to another name. An empty name or "."
// names the directory itself, which the engine's own check refuses.
bool stays_beside_program(const std::string& name) {
    return name != ".." && name.find_first_of("\\:") == std::string::npos;
}

std::string after_last_slash(const std::string& url) {
    const std::size_t slash = url.rfind('/');
    return slash == std::string::npos ? url : url.substr(slash + 1);
}

}  // namespace

bool update_task::download_package() {
    const std::string url = encoded_package_url(package_url);
    // The package is written beside the program only, never into the working directory.
    if (module_dir().empty()) {
        debug_log("[TamsaUpdate]: UpdateFileName without a program directory \n");
        return false;
    }
    const std::string requested = after_last_slash(url);
    if (!stays_beside_program(requested)) {
        debug_log("[TamsaUpdate] package file name refused :%s \n", requested.c_str());
        package_path.clear();
        return false;
    }
    package_path = module_dir() + package_file_name(url);
    debug_log("[TamsaUpdate]: UpdateFileName %s", package_path.c_str());
    return fetch_package(*this, url);
}

std::uint32_t download_thread_proc(update_task* task) {
    if (task == nullptr) {
        return 1;
    }
    const bool ok = task->download_package();
    task->package_state.store(ok ? package_ready : package_failed, std::memory_order_release);
    if (!g_update_cancelled.load()) {
        // A window that is already gone drops the message; nobody is left to tell.
        (void)platform::post_message(task->progress_window, WM_DOWNLOAD_DONE, ok ? 1 : 0, 0);
    }
    task->worker_busy.store(false, std::memory_order_release);
    return 0;
}

void update_task::start_download(platform::window_handle window) {
    // One worker at a time: a second start (a repeated start message) while
    // an attempt runs would put two workers on the same part files.
    if (worker_busy.load(std::memory_order_acquire)) {
        debug_log("[TamsaUpdate]: a download is already running; the new start is ignored \n");
        return;
    }
    progress_window = window;
    if (worker_thread.joinable()) {
        // The previous attempt has posted its outcome and is at its very end.
        worker_thread.join();
    }
    // The standard library reports a thread it cannot create by throwing; the
    // window then simply keeps waiting, as it would for a slow attempt.
    worker_busy.store(true, std::memory_order_release);
    try {
        worker_thread = std::thread(download_thread_proc, this);
    } catch (const std::system_error& error) {
        worker_busy.store(false, std::memory_order_release);
        debug_log("[TamsaUpdate]: download worker cannot start: %s \n", error.what());
    }
}
