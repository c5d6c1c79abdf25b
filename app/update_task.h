// The record of one update run, shared by the update check, the download
// worker, both windows and process control, and the messages by which the
// worker talks to the progress window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/types.h"

class updater_app;

// Posted by the download engine after each chunk: wParam total size, lParam
// bytes written so far (both scaled down together when the total needs more
// than 31 bits).
inline constexpr std::uint32_t WM_DOWNLOAD_PROGRESS = platform::WM_USER + 100;
// Posted once per attempt by the worker: wParam 1 package ready, 0 failed.
inline constexpr std::uint32_t WM_DOWNLOAD_DONE = platform::WM_USER + 101;
// Posted by the progress window to itself on its first paint.
inline constexpr std::uint32_t WM_DOWNLOAD_START = platform::WM_USER + 102;

enum package_state_value : std::int32_t {
    package_none = 0,
    package_failed = 1,
    package_ready = 3,
};

// Set once, by the progress window, when the user confirms stopping.
extern std::atomic<bool> g_update_cancelled;

class update_task {
public:
    // Copies the launch parameters and removes leftovers of earlier runs.
    explicit update_task(const updater_app& app);
    update_task(const update_task&) = delete;
    update_task& operator=(const update_task&) = delete;
    ~update_task();

    // Asks the update service; true when a package was chosen.
    bool GetFileHash();

    // Starts a download attempt on a new worker thread.
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
    std::string package_path;
    platform::window_handle progress_window = 0;
    std::atomic<std::int32_t> package_state{package_none};
    std::atomic<bool> progress_paused{false};
    // The newest worker; not joinable when none was started.
    std::thread worker_thread;
};

// The worker thread's procedure: runs one attempt and posts WM_DOWNLOAD_DONE.
std::uint32_t download_thread_proc(update_task* task);
