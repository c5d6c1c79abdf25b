// COM on Windows: CoInitialize (single-threaded apartment) for the thread.
#include "platform/com.h"

#include <objbase.h>

namespace platform {

// S_FALSE (already initialised on this thread) counts as success.
bool initialize_com() {
    return SUCCEEDED(::CoInitialize(nullptr));
}

}  // namespace platform
