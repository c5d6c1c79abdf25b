// A 32-bit premultiplied BGRA image in memory: what the toolkit paints into
// and what images are decoded into.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace skinui {

using platform::point;
using platform::rect;
using platform::size;

// One pixel as a 32-bit value 0xAARRGGBB (bytes B, G, R, A in memory),
// colours premultiplied by alpha.
using pixel = std::uint32_t;

struct surface {
    int width = 0;
    int height = 0;
    std::vector<pixel> pixels;  // top-down rows of width pixels

    void resize(int w, int h);  // contents become transparent black
    pixel at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    pixel& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    rect bounds() const { return {0, 0, width, height}; }
};

}  // namespace skinui
