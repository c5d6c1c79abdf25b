// Network tuning on Linux.
#include "platform/network.h"

namespace platform {

std::size_t receive_buffer_bytes() {
    return 64 * 1024;
}

}  // namespace platform
