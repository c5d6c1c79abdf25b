// Processes on Windows: the Toolhelp snapshot, OpenProcess with a bounded
// WaitForSingleObject, TerminateProcess, and ShellExecuteA's "open" verb.
#include "platform/process.h"

// windows.h first: tlhelp32.h and shellapi.h build on its types.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
// clang-format on

#include <cerrno>

namespace platform {

// Every process of the system in the snapshot's order, the System Idle
// Process (id 0) left out. Stepping begins with Process32FirstW here, so no
// process is lost; the caller's walk steps over what it does not want.
std::vector<process_entry> snapshot_processes() {
    std::vector<process_entry> entries;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return entries;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == 0) continue;
        entries.push_back({static_cast<process_id>(entry.th32ProcessID), entry.szExeFile});
    }
    ::CloseHandle(snapshot);  // result ignored: the entries are copied
    return entries;
}

bool same_process_name(const std::wstring& a, const std::wstring& b) {
    // An embedded zero would end the system's comparison early.
    if (a.find(L'\0') != std::wstring::npos || b.find(L'\0') != std::wstring::npos) return a == b;
    return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

// The process's kernel handle, closed with the state.
struct process_handle::state {
    HANDLE handle = nullptr;
    ~state() {
        ::CloseHandle(handle);  // result ignored: nothing to do on failure
    }
};

process_handle::process_handle() = default;

// Opened with what waiting and terminating need, not more.
process_handle::process_handle(process_id pid) {
    if (pid <= 0) return;
    HANDLE handle = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                  static_cast<DWORD>(pid));
    if (handle == nullptr) return;
    state_ = std::make_unique<state>();
    state_->handle = handle;
}

process_handle::~process_handle() = default;
process_handle::process_handle(process_handle&& other) noexcept = default;
process_handle& process_handle::operator=(process_handle&& other) noexcept = default;

process_handle::wait_result process_handle::wait(unsigned timeout_ms) {
    if (!state_) return wait_result::failed;
    switch (::WaitForSingleObject(state_->handle, timeout_ms)) {
        case WAIT_OBJECT_0:
            return wait_result::ended;
        case WAIT_TIMEOUT:
            return wait_result::timeout;
        default:
            return wait_result::failed;
    }
}

// The handle holds the process: its id cannot be given to another while it
// is open, so the name read through it is the opened process's own.
std::wstring process_handle::exe_name() const {
    if (!state_) return {};
    if (::WaitForSingleObject(state_->handle, 0) != WAIT_TIMEOUT) return {};
    wchar_t path[32768];
    DWORD size = sizeof path / sizeof path[0];
    if (::QueryFullProcessImageNameW(state_->handle, 0, path, &size) == 0) return {};
    const std::wstring full(path, size);
    const std::size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

bool process_handle::terminate() {
    if (!state_) return false;
    return ::TerminateProcess(state_->handle, 0) != 0;
}

// The shell's own "open": above 32 is success. On failure the thread's last
// error is left in errno, where the callers read the reason on every backend.
std::intptr_t shell_open(const std::string& file, const std::string& parameters, const std::string& working_dir) {
    HINSTANCE result = ::ShellExecuteA(nullptr, "open", file.c_str(), parameters.c_str(),
                                       working_dir.empty() ? nullptr : working_dir.c_str(), SW_SHOWNORMAL);
    const auto value = reinterpret_cast<std::intptr_t>(result);
    if (value <= 32) errno = static_cast<int>(::GetLastError());
    return value;
}

}  // namespace platform
