// The thread's last OS error code: GetLastError.
#include "platform/last_error.h"

#include <windows.h>

namespace platform {

int last_error() {
    return static_cast<int>(::GetLastError());
}

void clear_last_error() {
    ::SetLastError(0);
}

}  // namespace platform
