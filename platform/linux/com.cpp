// COM on Linux: there is none, so initialising it always succeeds.
#include "platform/com.h"

namespace platform {

bool initialize_com() {
    return true;
}

}  // namespace platform
