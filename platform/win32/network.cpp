// Network tuning on Windows.
#include "platform/network.h"

namespace platform {

// The largest buffer libcurl takes.
std::size_t receive_buffer_bytes() {
    return 512 * 1024;
}

}  // namespace platform
