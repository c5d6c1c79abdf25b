// Processes: lookup by executable name, bounded wait, termination, and
// starting a file through the shell.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

using process_id = std::int32_t;

struct process_entry {
    process_id pid = 0;
    std::wstring exe_name;  // base name of the executable, no path
};

// One snapshot of the running processes, in the system's order.
std::vector<process_entry> snapshot_processes();

// True when two executable names are the same ignoring the case of every
// letter, as the system compares them (lstrcmpiW on Windows).
bool same_process_name(const std::wstring& a, const std::wstring& b);

// A process opened for waiting or terminating; closes itself.
class process_handle {
public:
    process_handle();
    explicit process_handle(process_id pid);  // opens; valid() tells
    ~process_handle();
    process_handle(process_handle&& other) noexcept;
    process_handle& operator=(process_handle&& other) noexcept;

    bool valid() const { return state_ != nullptr; }
    enum class wait_result { ended, timeout, failed };
    wait_result wait(unsigned timeout_ms);
    bool terminate();  // kills the process; true when the signal was sent
    // The base name of the opened process's executable; empty when it cannot
    // be read or the process has ended (its id may name another one by now).
    std::wstring exe_name() const;

private:
    // The backend's hold on the process; null when none is open.
    struct state;
    std::unique_ptr<state> state_;
};

// Starts a file the way the shell's "open" verb does: an executable (ELF or
// "#!" script) gets its owner-execute bit and runs as a detached process in
// working_dir; anything else goes to xdg-open. Returns a value above 32 on
// success and the errno-based failure code (at most 32) otherwise.
std::intptr_t shell_open(const std::string& file, const std::string& parameters, const std::string& working_dir);

}  // namespace platform
