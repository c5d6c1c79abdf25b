// The machine-wide single-instance marker on Windows: a named manual-reset
// event that is never signalled; only its existence counts. The kernel drops
// it when the last handle closes, however the holder ends.
#include "platform/single_instance.h"

#include <windows.h>

#include <cstdint>

namespace platform {

single_instance::single_instance(const std::wstring& name) {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    // Read at once: any later call may change the thread's last error.
    const DWORD error = ::GetLastError();
    if (event != nullptr && error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(event);  // result ignored: the handle was only a probe
        error_ = static_cast<int>(error);
        result_ = result::already_exists;
        return;
    }
    if (event == nullptr) {
        error_ = static_cast<int>(error);
        result_ = error == ERROR_ACCESS_DENIED ? result::access_denied : result::failed;
        return;
    }
    // A kernel handle fits an int on both Windows widths; held() reads it.
    fd_ = static_cast<int>(reinterpret_cast<std::intptr_t>(event));
    result_ = result::created;
}

single_instance::~single_instance() {
    if (fd_ >= 0) ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd_)));
}

}  // namespace platform
