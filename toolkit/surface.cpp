// The in-memory painting surface.
#include "toolkit/surface.h"

#include <algorithm>

namespace skinui {

void surface::resize(int w, int h) {
    width = std::max(0, w);
    height = std::max(0, h);
    pixels.assign(static_cast<std::size_t>(width) * height, 0);
}

}  // namespace skinui
