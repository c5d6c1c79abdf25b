// Installs a connection's own error hook through Xlib's extension hooks.
// Kept apart because Xlibint.h defines macros (min, max) that break C++
// headers included after it.
#include <X11/Xlibint.h>

#include "platform/linux/x11_support.h"

namespace platform::x11 {
namespace {

error_sink g_sink = nullptr;

// Xlib asks every extension hook of a connection before its process-wide
// handler; answering non-zero keeps the error from that handler, which
// would end the process.
int on_error(Display* display, xError* error, XExtCodes*, int* ret_code) {
    // Builtin atomics: <atomic> cannot follow Xlibint.h.
    const error_sink sink = __atomic_load_n(&g_sink, __ATOMIC_ACQUIRE);
    if (sink != nullptr) sink(display, error->errorCode, error->majorCode, error->minorCode);
    *ret_code = 0;
    return 1;
}

// Errors that arrive while events are read (XPending, XNextEvent), not as
// the answer to a request that waits for one, skip the extension hooks and
// go through the connection's per-code conversion; returning False there
// keeps them from the process-wide handler too.
Bool on_wire_error(Display* display, XErrorEvent*, xError* error) {
    const error_sink sink = __atomic_load_n(&g_sink, __ATOMIC_ACQUIRE);
    if (sink != nullptr) sink(display, error->errorCode, error->majorCode, error->minorCode);
    return False;
}

}  // namespace

bool install_error_hook(Display* display, error_sink sink) {
    __atomic_store_n(&g_sink, sink, __ATOMIC_RELEASE);
    XExtCodes* codes = XAddExtension(display);
    if (codes == nullptr) return false;
    XESetError(display, codes->extension, on_error);
    // Every error code, core and extension ones alike.
    for (int code = 1; code < 256; ++code) {
        (void)XESetWireToError(display, code, on_wire_error);
    }
    return true;
}

}  // namespace platform::x11
