// The record of one update run, shared by the update check, the download
// worker, both windows and process control, and the messages by which the
// worker talks to the progress window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "core/launch_parameters.h"
#include "core/update_messages.h"
#include "platform/files.h"
#include "platform/types.h"

enum package_state_value : std::int32_t {
    package_none = 0,
    package_failed = 1,
    package_ready = 3,
};

// Set once, by the progress window, when the user confirms stopping.
extern std::atomic<bool> g_update_cancelled;

class update_task {
public:
    // An empty record, for a run whose parameters are filled in by hand.
    update_task() = default;
    // Copies the launch parameters (the application object is one). The caller
    // removes the leftovers of earlier runs before it asks the update service.
    explicit update_task(const launch_parameters& app);
    update_task(const update_task&) = delete;
    update_task& operator=(const update_task&) = delete;
    // Waits for a worker that is still running: it holds a pointer to this
    // record, so the record must outlive it.
    ~update_task();

    // Asks the update service; true when a package was chosen.
    bool GetFileHash();
    // The product's name as the update query sends it: UTF-8, percent-encoded.
    std::string query_product() const;

    // Starts a download attempt on a new worker thread; ignored (and logged)
    // while the worker of an earlier attempt still runs.
    void start_download(platform::window_handle window);
    // The worker's job: download and verify; fills package_path.
    bool download_package();
    bool verify_package_md5();

    // The user declines or abandons the update.
    void decline_update();
    // Asks the product to quit, waits up to 2000 ms, then terminates it.
    void close_product();

    std::string exe_name;
    std::string channel;
    std::string page_url;
    std::string package_md5;
    std::string product;
    std::string version;
    std::string min_version;
    std::uint32_t quit_message_id = 0;
    platform::window_handle product_window = 0;
    std::string package_url;
    // Set before the update check in a program built with release keys: the
    // decision then offers only a release newer by dotted numbers
    // (compare_dotted_versions) and reads the signature strictly.
    bool signed_releases = false;
    // The answer's version and the chosen package's minisign signature (the
    // whole .minisig text, empty when none came); checked only by a program
    // built with release keys.
    std::string package_version;
    std::string package_signature;
    std::string package_path;
    // The verified package, held by the worker from its check until the run
    // sequence has started it; nothing is held while no package is ready.
    platform::held_file package_file;
    platform::window_handle progress_window = 0;
    std::atomic<std::int32_t> package_state{package_none};
    std::atomic<bool> progress_paused{false};
    // The one worker; not joinable when none was started. It is joined
    // before another starts and before the record goes away.
    std::thread worker_thread;
    // Set while a worker runs its attempt; the worker clears it as its last step.
    std::atomic<bool> worker_busy{false};
};

// The worker thread's procedure: runs one attempt and posts WM_DOWNLOAD_DONE.
std::uint32_t download_thread_proc(update_task* task);
