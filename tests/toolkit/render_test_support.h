// Shared pieces of the painting tests: a fresh temporary directory, PNG
// files written from straight-alpha pixels, and pixel formatting.
#pragma once

// Static functions, so each test program that includes this has its own copy.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "toolkit/surface.h"

namespace render_test {

using test_support::temp_dir;

// An RGBA value in straight (not premultiplied) alpha, as a PNG holds it.
struct rgba {
    std::uint8_t r, g, b, a;
};

// Writes a width x height PNG whose pixel (x, y) is colour(x, y).
template <typename F>
std::vector<std::uint8_t> png_bytes(int width, int height, F colour) {
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgba c = colour(x, y);
            std::uint8_t* p = &raw[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = c.a;
        }
    }
    std::vector<std::uint8_t> png;
    auto sink = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + size);
    };
    stbi_write_png_to_func(sink, &png, width, height, 4, raw.data(), width * 4);
    return png;
}

template <typename F>
void write_png(const std::filesystem::path& file, int width, int height, F colour) {
    std::vector<std::uint8_t> png = png_bytes(width, height, colour);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
}

inline std::string hex(std::uint32_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << std::setw(8) << std::setfill('0') << value;
    return out.str();
}

// A surface filled with one pixel value.
inline skinui::surface filled(int width, int height, skinui::pixel value) {
    skinui::surface s;
    s.resize(width, height);
    std::fill(s.pixels.begin(), s.pixels.end(), value);
    return s;
}

}  // namespace render_test
