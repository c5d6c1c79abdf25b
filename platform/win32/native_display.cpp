// The Windows build's native display is the Win32 one; it has no X11
// display, so selecting that one fails.
#include "platform/window.h"
#include "platform/window_backend.h"

namespace platform {

display_kind native_display() {
    return display_kind::win32;
}

window_backend* x11_window_backend() {
    return nullptr;
}

}  // namespace platform
