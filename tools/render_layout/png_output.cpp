// PNG output of painted surfaces: premultiplied BGRA to straight RGBA.
#include "tools/render_layout/png_output.h"

#include <cstdint>
#include <vector>

// A private copy of the PNG writer; its unused writers are not our warnings.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace render_layout {

namespace {

// Undoes the premultiplication, rounding to the nearest value.
std::uint8_t unpremultiply(std::uint32_t channel, std::uint32_t alpha) {
    if (alpha == 0) return 0;
    std::uint32_t value = (channel * 255 + alpha / 2) / alpha;
    return static_cast<std::uint8_t>(value > 255 ? 255 : value);
}

}  // namespace

bool write_surface_png(const skinui::surface& image, const std::string& path) {
    if (image.width <= 0 || image.height <= 0) return false;
    std::vector<std::uint8_t> rgba;
    rgba.reserve(image.pixels.size() * 4);
    for (skinui::pixel p : image.pixels) {
        std::uint32_t a = p >> 24;
        rgba.push_back(unpremultiply((p >> 16) & 0xFF, a));
        rgba.push_back(unpremultiply((p >> 8) & 0xFF, a));
        rgba.push_back(unpremultiply(p & 0xFF, a));
        rgba.push_back(static_cast<std::uint8_t>(a));
    }
    return stbi_write_png(path.c_str(), image.width, image.height, 4, rgba.data(), image.width * 4) != 0;
}

}  // namespace render_layout
