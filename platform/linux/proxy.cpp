// Proxies on Linux: libcurl reads the environment itself; there are no
// system settings to add.
#include "platform/proxy.h"

namespace platform {

std::string proxy_for_request(const std::string&, const std::atomic<bool>*) {
    return {};
}

}  // namespace platform
