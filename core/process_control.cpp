// Process and window control of the product: closing it or bringing it back.
#include "core/process_control.h"

#include <algorithm>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "core/version_order.h"
#include "platform/foreign_window.h"
#include "platform/message_queue.h"
#include "platform/process.h"

namespace {

// How long the product may take to quit after the quit message.
constexpr unsigned QUIT_WAIT_MS = 2000;

// Waits for the process to end; true only when the wait ran out of time (a
// process that cannot be opened is neither waited for nor terminated).
bool wait_timed_out(platform::process_id pid) {
    platform::process_handle process(pid);
    if (!process.valid()) return false;
    return process.wait(QUIT_WAIT_MS) == platform::process_handle::wait_result::timeout;
}

// Waits for the process that owns the product's window and terminates it
// when the wait runs out. It is opened before its name is checked, so an id
// that names another process by now is caught.
void close_window_owner(platform::process_id owner, const std::wstring& name) {
    platform::process_handle process(owner);
    if (!process.valid()) {
        debug_log("[TamsaUpdate]: the process %d of the product's window cannot be opened \n", static_cast<int>(owner));
        return;
    }
    const std::wstring running = process.exe_name();
    if (name.empty() || running.empty() || !platform::same_process_name(running, name)) {
        debug_log("[TamsaUpdate]: the product's window belongs to process %d (%s), not to %s; it is left alone \n",
                  static_cast<int>(owner), wide_to_ansi(running).c_str(), wide_to_ansi(name).c_str());
        return;
    }
    if (process.wait(QUIT_WAIT_MS) == platform::process_handle::wait_result::timeout) {
        (void)process.terminate();  // an ended process needs nothing more
    }
}

}  // namespace

process_snapshot::process_snapshot() : entries_(platform::snapshot_processes()), open_(true) {}

void process_snapshot::close() {
    entries_.clear();
    position_ = 0;
    open_ = false;
}

bool process_snapshot::find(const std::wstring& name, platform::process_entry& entry) {
    if (!open_) return false;
    while (position_ < entries_.size()) {
        const platform::process_entry& candidate = entries_[position_++];
        // An entry without a name (a process whose executable cannot be
        // read) never matches, so an empty name finds nothing.
        if (candidate.pid == 0 || candidate.exe_name.empty()) continue;
        if (equal_ignoring_case(candidate.exe_name, name)) {
            entry = candidate;
            return true;
        }
    }
    return false;
}

bool equal_ignoring_case(const std::wstring& a, const std::wstring& b) {
    return platform::same_process_name(a, b);
}

int terminate_process_by_name(const std::wstring& name) {
    process_snapshot snapshot;
    platform::process_entry entry;
    int result = 0;
    if (snapshot.find(name, entry)) {
        platform::process_handle process(entry.pid);
        if (process.valid()) result = process.terminate() ? 1 : 0;
    }
    snapshot.close();
    return result;
}

void update_task::close_product() {
    // Our own windows get the message through our queue; the product's window
    // is another program's and gets it as a client message. Failure to post
    // (the window is gone) is ignored: the process lookup still runs.
    if (platform::is_registered_window(product_window)) {
        (void)platform::post_message(product_window, quit_message_id, 0, 0);
    } else {
        (void)platform::post_foreign_message(product_window, quit_message_id, 0, 0);
    }
    std::wstring name = ansi_to_wide(exe_name);
    // The process that owns the product's window is the product, when its
    // executable has the product's name; the first process of that name
    // may be another user's copy or something else altogether.
    if (const platform::process_id owner = platform::foreign_window_process(product_window); owner != 0) {
        close_window_owner(owner, name);
        return;
    }
    process_snapshot snapshot;
    platform::process_entry entry;
    if (snapshot.find(name, entry) && wait_timed_out(entry.pid)) {
        terminate_process_by_name(name);
    }
    snapshot.close();
}

void update_task::decline_update() {
    // A product below the minimum version may not keep running.
    if (version_is_lower(version, min_version)) {
        close_product();
        return;
    }
    platform::show_and_raise_foreign_window(product_window);
}
