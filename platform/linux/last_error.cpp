// The thread's last OS error code: errno.
#include "platform/last_error.h"

#include <cerrno>

namespace platform {

int last_error() {
    return errno;
}

void clear_last_error() {
    errno = 0;
}

}  // namespace platform
