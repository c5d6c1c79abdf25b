// The package download job: the worker thread, the package path and one
// attempt of download and digest check.
#include "download/package_download.h"

#include <system_error>

#include "core/text_utils.h"
#include "core/update_task.h"
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

signature_check compiled_signature_check() {
    signature_check check;
    check.keys = compiled_release_keys();
    check.required = release_keys_compiled();
    return check;
}

bool package_signature_accepted(update_task& task, signature_check& check, const std::string& prehash) {
    check.verdict = {};
    if (!check.required) {
        return true;
    }
    check.verdict =
        verify_release_signature(check.keys, task.package_signature, task.package_version, task.package_path, prehash);
    if (check.verdict.verified) {
        debug_log("[TamsaUpdate]: package signature verified, key %s \n", check.verdict.key_id.c_str());
        return true;
    }
    debug_log("[TamsaUpdate]: package signature refused (%s): %s; package deleted \n", check.verdict.reason.c_str(),
              check.verdict.detail.c_str());
    // An unsigned package is never left where it could be started by hand or by a later run.
    if (!platform::delete_file(task.package_path)) {
        debug_log("[TamsaUpdate]: refused package %s cannot be deleted \n", task.package_path.c_str());
    }
    return false;
}

bool fetch_package(update_task& task, const std::string& encoded_url, transfer_limits limits, signature_check* check) {
    signature_check compiled;
    if (check == nullptr) {
        compiled = compiled_signature_check();
        check = &compiled;
    }
    segment_downloader engine(encoded_url, encoded_url, task.package_path, task.progress_window,
                              download_flags{&task.progress_paused, &g_update_cancelled}, limits);
    if (check->required) {
        engine.take_signature_hash();
    }
    if (!engine.download()) {
        return false;
    }
    // The digest taken while the package arrived spares reading it again.
    const bool digest_ok = !engine.package_digest().empty()
                               ? package_digest_matches(task.package_md5, engine.package_digest())
                               : task.verify_package_md5();
    if (!digest_ok) {
        return false;
    }
    return package_signature_accepted(task, *check, engine.package_signature_hash());
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
    return 0;
}

void update_task::start_download(platform::window_handle window) {
    progress_window = window;
    if (worker_thread.joinable()) {
        // The previous attempt has already posted its outcome; let it end on its own.
        worker_thread.detach();
    }
    // The standard library reports a thread it cannot create by throwing; the
    // window then simply keeps waiting, as it would for a slow attempt.
    try {
        worker_thread = std::thread(download_thread_proc, this);
    } catch (const std::system_error& error) {
        debug_log("[TamsaUpdate]: download worker cannot start: %s \n", error.what());
    }
}
