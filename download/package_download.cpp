// The package download job: the worker thread, the package path and one
// attempt of download and digest check.
#include "download/package_download.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "download/md5.h"
#include "download/own_files.h"
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

bool is_own_file_name(const std::string& name, const std::string& exe_name) {
    const auto same = [&](const std::string& other) {
        return !other.empty() && platform::equal_ignoring_ascii_case(std::string_view(name), std::string_view(other));
    };
    return platform::starts_with_ignoring_ascii_case(std::string_view(name), std::string_view("TamsaUpdate.")) ||
           same("update.ini") || same(file_name_of(platform::executable_path())) || same(file_name_of(exe_name));
}

signature_check compiled_signature_check() {
    signature_check check;
    check.keys = compiled_release_keys();
    check.required = release_keys_compiled();
    check.legacy = compiled_legacy_signatures();
    return check;
}

namespace {

// The list of package names this program has put beside itself, one a line.
std::string placed_list_path() {
    return module_dir() + "TamsaUpdate.packages";
}

// The names on the list; a list that is not a plain file of our own (a link,
// a file someone else made) is not read, and is replaced at the next write.
std::vector<std::string> placed_names() {
    std::vector<std::string> names;
    const std::string path = placed_list_path();
    if (platform::kind_of_path(path) == platform::path_kind::none) return names;
    std::string error;
    std::FILE* list = platform::open_own_file(path, &error);
    if (list == nullptr) {
        debug_log("[TamsaUpdate]: %s is not ours (%s); it is not read \n", path.c_str(), error.c_str());
        return names;
    }
    std::string line;
    for (int c = std::fgetc(list); c != EOF; c = std::fgetc(list)) {
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
        } else if (!line.empty()) {
            names.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty()) names.push_back(std::move(line));
    (void)std::fclose(list);  // read only
    return names;
}

// Writes the list anew under a name of our own, made exclusively, and moves
// it over the old one in one step (a link there is replaced itself).
void remember_placed(const std::string& name) {
    std::vector<std::string> names = placed_names();
    if (std::find(names.begin(), names.end(), name) != names.end()) return;
    names.push_back(name);
    const std::string path = placed_list_path();
    const std::string fresh = path + ".new";
    std::FILE* list = create_download_file(fresh, "the list of placed packages");
    bool ok = list != nullptr;
    for (const std::string& entry : names) {
        ok = ok && std::fputs(entry.c_str(), list) >= 0 && std::fputc('\n', list) != EOF;
    }
    if (list != nullptr) ok = std::fclose(list) == 0 && ok;
    ok = ok && platform::replace_file(fresh, path);
    if (!ok) {
        (void)platform::delete_file(fresh);  // absent when it was never made
        debug_log("[TamsaUpdate]: the list of placed packages cannot be written \n");
    }
}

// The finished, verified package goes to its path, replacing a regular file
// there (an older package of the product; earlier versions of this program
// left one where a download failed). Never over the updater's own files,
// the product's program, a link or a folder.
bool place_package(platform::held_file& package, const std::string& package_path, const std::string& exe_name) {
    const std::string name = file_name_of(package_path);
    if (is_own_file_name(name, exe_name)) {
        debug_log("[TamsaUpdate]: %s is a file of the updater or of the product; the package is not put there \n",
                  package_path.c_str());
        return false;
    }
    const platform::path_kind existing = platform::kind_of_path(package_path);
    if (existing == platform::path_kind::directory || existing == platform::path_kind::other) {
        debug_log("[TamsaUpdate]: %s is a folder or a link; the package is not put there \n", package_path.c_str());
        return false;
    }
    // Listed first: a package in place is always one the next run may replace.
    remember_placed(name);
    if (!package.place_at(package_path)) {
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
    check.verdict = verify_release_signature(check.keys, task.package_signature, release_claim_of(task), path, prehash,
                                             check.legacy);
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
    if (is_own_file_name(name, task.exe_name)) {
        debug_log("[TamsaUpdate] package file name refused :%s is a file of the updater or of the product \n",
                  name.c_str());
        return false;
    }
    const std::string download_path = download_path_for(task.package_path);
    // From the check until the installer has started, the package is held.
    platform::held_file package;
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
        if (ok && !package.hold(engine.take_package_file(), download_path)) {
            debug_log("[TamsaUpdate]: %s is no longer our own plain file; it is not used \n", download_path.c_str());
            ok = false;
        }
        if (ok) {
            // The digests taken while the package arrived read the part files
            // through our own streams, and the package was joined from those
            // same streams into a file only we can write: they are its digests.
            // Read again only when they could not be taken, and then through
            // the held file, never its name.
            std::string digest = engine.package_digest();
            if (digest.empty() && !task.package_md5.empty()) file_md5(package.read_path(), digest);
            ok = package_digest_matches(task.package_md5, digest) &&
                 package_signature_accepted(task, *check, package.read_path(), engine.package_signature_hash());
        }
        break;
    }
    ok = ok && place_package(package, task.package_path, task.exe_name);
    if (!ok) {
        package.release();
        (void)platform::delete_file(download_path);  // absent when nothing was fetched
        return false;
    }
    task.package_file = std::move(package);
    return true;
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
    package_file.release();
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
