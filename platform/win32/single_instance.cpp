// The machine-wide single-instance marker on Windows: a named manual-reset
// event that is never signalled; only its existence counts. The kernel drops
// it when the last handle closes, however the holder ends.
#include "platform/single_instance.h"

#include <windows.h>

namespace platform {

// The event's handle, closed with the state.
struct single_instance::state {
    HANDLE event = nullptr;
    ~state() {
        ::CloseHandle(event);  // result ignored: the name is released either way
    }
};

namespace {

// TAMSA_INSTANCE_SCOPE, when set, makes a marker of its own, so that test
// runs in one Wine prefix never meet each other's updaters; a normal start
// has no scope.
std::wstring scoped_name(const std::wstring& name) {
    wchar_t scope[128] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"TAMSA_INSTANCE_SCOPE", scope, 128);
    if (length == 0 || length >= 128) return name;
    return name + L"@" + scope;
}

}  // namespace

single_instance::single_instance(const std::wstring& name) {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, scoped_name(name).c_str());
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
    state_ = std::make_unique<state>();
    state_->event = event;
    result_ = result::created;
}

single_instance::~single_instance() = default;

}  // namespace platform
