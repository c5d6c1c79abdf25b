// The Linux build has no Win32 display: selecting it fails.
#include "platform/window_backend.h"

namespace platform {

window_backend* win32_window_backend() {
    return nullptr;
}

}  // namespace platform
