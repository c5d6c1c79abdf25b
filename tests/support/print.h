// Test helper: readable failure messages for the platform's geometry types.
#pragma once

#include <ostream>

#include "platform/types.h"

namespace platform {

inline std::ostream& operator<<(std::ostream& out, const rect& r) {
    return out << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom;
}

inline std::ostream& operator<<(std::ostream& out, const size& s) {
    return out << s.cx << 'x' << s.cy;
}

}  // namespace platform
