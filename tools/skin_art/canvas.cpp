// Anti-aliased painting on a floating-point RGBA canvas and PNG output.
#include "tools/skin_art/canvas.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

// zlib at its best level compresses much better than the writer's own deflate.
static unsigned char* zlib_compress(unsigned char* data, int length, int* out_length, int) {
    uLongf size = compressBound(static_cast<uLong>(length));
    auto* out = static_cast<unsigned char*>(std::malloc(size));
    if (out && compress2(out, &size, data, static_cast<uLong>(length), Z_BEST_COMPRESSION) == Z_OK) {
        *out_length = static_cast<int>(size);
        return out;
    }
    std::free(out);
    return nullptr;
}

// A private copy of the PNG writer; its unused writers are not our warnings.
#define STBIW_ZLIB_COMPRESS zlib_compress
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace skin_art {

colour hex(std::uint32_t rgb, float alpha) {
    return {((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f, alpha};
}

colour mix(const colour& a, const colour& b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

canvas::canvas(int width, int height)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height, colour{0, 0, 0, 0}) {}

void canvas::blend(int x, int y, const colour& c, float coverage) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    float src_a = std::clamp(c.a * coverage, 0.0f, 1.0f);
    if (src_a <= 0) return;
    colour& dst = pixels_[static_cast<std::size_t>(y) * width_ + x];
    float out_a = src_a + dst.a * (1 - src_a);
    auto channel = [&](float s, float d) { return (s * src_a + d * dst.a * (1 - src_a)) / out_a; };
    dst = {channel(c.r, dst.r), channel(c.g, dst.g), channel(c.b, dst.b), out_a};
}

float box_distance(const round_box& box, float px, float py) {
    float cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
    float hx = (box.right - box.left) / 2 - box.radius, hy = (box.bottom - box.top) / 2 - box.radius;
    float qx = std::abs(px - cx) - hx, qy = std::abs(py - cy) - hy;
    float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - box.radius;
}

float coverage_from_distance(float distance) {
    return std::clamp(0.5f - distance, 0.0f, 1.0f);
}

void canvas::stroke_box(const round_box& box, float line_width, const colour& c) {
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            float d = box_distance(box, x + 0.5f, y + 0.5f);
            // A band of line_width just inside the outline.
            float cover = std::min(coverage_from_distance(d), coverage_from_distance(-d - line_width));
            if (cover > 0) blend(x, y, c, cover);
        }
    }
}

static float segment_distance(float px, float py, float x0, float y0, float x1, float y1) {
    float dx = x1 - x0, dy = y1 - y0;
    float t = std::clamp(((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy), 0.0f, 1.0f);
    return std::hypot(px - (x0 + t * dx), py - (y0 + t * dy));
}

void canvas::line(float x0, float y0, float x1, float y1, float line_width, const colour& c) {
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            float d = segment_distance(x + 0.5f, y + 0.5f, x0, y0, x1, y1) - line_width / 2;
            float cover = coverage_from_distance(d);
            if (cover > 0) blend(x, y, c, cover);
        }
    }
}

void canvas::blend_mask(int x, int y, int mask_width, int mask_height, const std::uint8_t* mask, int pitch,
                        const colour& c) {
    for (int row = 0; row < mask_height; ++row) {
        for (int col = 0; col < mask_width; ++col) {
            std::uint8_t value = mask[row * pitch + col];
            if (value) blend(x + col, y + row, c, value / 255.0f);
        }
    }
}

static std::uint8_t to_byte(float v) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255));
}

bool canvas::write_png(const std::string& path) const {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(pixels_.size() * 4);
    for (const colour& c : pixels_) {
        std::uint8_t a = to_byte(c.a);
        // Fully transparent pixels carry no colour, which also keeps the files small.
        bytes.push_back(a ? to_byte(c.r) : 0);
        bytes.push_back(a ? to_byte(c.g) : 0);
        bytes.push_back(a ? to_byte(c.b) : 0);
        bytes.push_back(a);
    }
    stbi_write_png_compression_level = 9;
    return stbi_write_png(path.c_str(), width_, height_, 4, bytes.data(), width_ * 4) != 0;
}

}  // namespace skin_art
