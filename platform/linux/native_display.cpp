// The Linux build's native display is X11; it has no Win32 display, so
// selecting that one fails.
#include "platform/window.h"
#include "platform/window_backend.h"

namespace platform {

display_kind native_display() {
    return display_kind::x11;
}

window_backend* win32_window_backend() {
    return nullptr;
}

}  // namespace platform
