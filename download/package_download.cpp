// The package download job: the worker thread, the package path and one
// attempt of download and digest check.
#include "download/package_download.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "download/md5.h"
#include "platform/files.h"
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

std::string download_path_for(const std::string& package_path) {
    return module_dir() + DOWNLOAD_MARK + file_name_of(package_path);
}

signature_check compiled_signature_check() {
    signature_check check;
    check.keys = compiled_release_keys();
    check.required = release_keys_compiled();
    return check;
}

namespace {

// The list of package names this program has put beside itself, one a line.
std::string placed_list_path() {
    return module_dir() + "TamsaUpdate.packages";
}

bool placed_by_us(const std::string& name) {
    std::ifstream list(placed_list_path());
    std::string line;
    while (std::getline(list, line)) {
        if (line == name) return true;
    }
    return false;
}

void remember_placed(const std::string& name) {
    if (placed_by_us(name)) return;
    std::ofstream list(placed_list_path(), std::ios::app);
    list << name << '\n';
    if (!list) debug_log("[TamsaUpdate]: the list of placed packages cannot be written \n");
}

// Puts the finished, verified package at its path. A file of that name that
// is not a package this program put there (update.ini, a library of the
// product) is never replaced.
bool place_package(const std::string& download_path, const std::string& package_path) {
    const std::string name = file_name_of(package_path);
    const platform::path_kind existing = platform::kind_of_path(package_path);
    // An empty file holds nothing to lose (earlier versions of this program
    // left one where a download failed).
    std::error_code error;
    const bool empty_file =
        existing == platform::path_kind::file && std::filesystem::file_size(package_path, error) == 0 && !error;
    if (existing != platform::path_kind::none && !empty_file &&
        (existing != platform::path_kind::file || !placed_by_us(name))) {
        debug_log("[TamsaUpdate]: %s is in the way and is not a package of ours; the package is not put there \n",
                  package_path.c_str());
        return false;
    }
    // Listed first: a package in place is always one the next run may replace.
    remember_placed(name);
    if (!platform::replace_file(download_path, package_path)) {
        debug_log("[TamsaUpdate]: the package cannot be put at %s \n", package_path.c_str());
        return false;
    }
    return true;
}

// The release signature of the downloaded file at path, when the program
// was built with release keys. A refused file is deleted by the caller: an
// unsigned package is never left where it could be started.
bool package_signature_accepted(update_task& task, signature_check& check, const std::string& path,
                                const std::string& prehash) {
    check.verdict = {};
    if (!check.required) {
        return true;
    }
    check.verdict = verify_release_signature(check.keys, task.package_signature, task.package_version, path, prehash);
    if (check.verdict.verified) {
        debug_log("[TamsaUpdate]: package signature verified, key %s \n", check.verdict.key_id.c_str());
        return true;
    }
    debug_log("[TamsaUpdate]: package signature refused (%s): %s; package deleted \n", check.verdict.reason.c_str(),
              check.verdict.detail.c_str());
    return false;
}

// How often an attempt starts again because the file changed under it.
constexpr int CHANGED_FILE_ATTEMPTS = 3;

}  // namespace

bool fetch_package(update_task& task, const std::string& encoded_url, transfer_limits limits, signature_check* check,
                   download_timings* timings) {
    signature_check compiled;
    if (check == nullptr) {
        compiled = compiled_signature_check();
        check = &compiled;
    }
    // The package arrives under a name of our own and takes its real name
    // only once it is complete and verified.
    const std::string name = file_name_of(task.package_path);
    if (name.empty() || name == "." || name == "..") {
        debug_log("[TamsaUpdate] check_file_name_validate :%s invalidate \n", task.package_path.c_str());
        return false;
    }
    const std::string download_path = download_path_for(task.package_path);
    bool ok = false;
    for (int attempt = 1; attempt <= CHANGED_FILE_ATTEMPTS; ++attempt) {
        segment_downloader engine(encoded_url, encoded_url, download_path, task.progress_window,
                                  download_flags{&task.progress_paused, &g_update_cancelled}, limits);
        if (check->required) {
            engine.take_signature_hash();
        }
        // A package labelled as a web page is still taken when its digest or signature matches.
        if (check->required || !task.package_md5.empty()) {
            engine.verification_follows();
        }
        ok = engine.download();
        if (timings != nullptr) *timings = engine.timings();
        if (!ok && engine.file_changed() && attempt < CHANGED_FILE_ATTEMPTS && !g_update_cancelled.load()) {
            debug_log("[TamsaUpdate]: the package changed during the download; starting again \n");
            continue;
        }
        if (ok) {
            // The digest taken while the package arrived spares reading it again.
            std::string digest = engine.package_digest();
            if (digest.empty() && !task.package_md5.empty()) file_md5(download_path, digest);
            ok = package_digest_matches(task.package_md5, digest) &&
                 package_signature_accepted(task, *check, download_path, engine.package_signature_hash());
        }
        break;
    }
    ok = ok && place_package(download_path, task.package_path);
    if (!ok) {
        (void)platform::delete_file(download_path);  // absent when nothing was fetched
    }
    return ok;
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
    // Cleared before the outcome is told: a start that answers it joins this
    // worker, which has nothing left to do but post.
    task->worker_busy.store(false, std::memory_order_release);
    if (!g_update_cancelled.load()) {
        // A window that is already gone drops the message; nobody is left to tell.
        (void)platform::post_message(task->progress_window, WM_DOWNLOAD_DONE, ok ? 1 : 0, 0);
    }
    return 0;
}

void update_task::start_download(platform::window_handle window) {
    // One worker at a time: a second start (a repeated start message) while
    // an attempt runs would put two workers on the same part files.
    if (worker_busy.load(std::memory_order_acquire)) {
        debug_log("[TamsaUpdate]: a download is already running; the new start is ignored \n");
        return;
    }
    if (worker_thread.joinable()) {
        // The previous attempt has stored its outcome and is at its very end.
        worker_thread.join();
    }
    progress_window = window;
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
