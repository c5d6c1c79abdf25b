// Stretching and blending of premultiplied BGRA pixels with integer math.
#include "toolkit/blend.h"

#include <algorithm>
#include <vector>

namespace skinui {

rect intersect(const rect& a, const rect& b) {
    rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    return r.empty() ? rect{} : r;
}

bool intersects(const rect& a, const rect& b) {
    return !intersect(a, b).empty();
}

namespace {

// Source coordinate under the centre of destination pixel d (0-based within
// a destination span of dest_len covering a source span of source_len).
// Computed in 64 bits: a far destination makes 2 * d + 1 exceed an int, and
// the result is kept inside the source span whatever the inputs.
int sample_at(std::int64_t d, int source_len, std::int64_t dest_len) {
    if (dest_len <= 0 || source_len <= 0) return 0;
    const std::int64_t at = ((2 * d + 1) * source_len) / (2 * dest_len);
    return static_cast<int>(std::clamp<std::int64_t>(at, 0, source_len - 1));
}

}  // namespace

void stretch_image(surface& target, const rect& dest, const surface& image, const rect& source, const rect& clip,
                   bool blend, std::uint8_t fade) {
    rect src = intersect(source, image.bounds());
    if (src.empty() || src != source || dest.empty()) return;
    rect area = intersect(intersect(dest, clip), target.bounds());
    if (area.empty()) return;
    const std::int64_t dw = std::int64_t{dest.right} - dest.left;
    const std::int64_t dh = std::int64_t{dest.bottom} - dest.top;
    // Column lookup once per call; rows are then plain loops.
    std::vector<int> columns(static_cast<std::size_t>(area.width()));
    for (int x = area.left; x < area.right; ++x) {
        columns[x - area.left] = src.left + sample_at(std::int64_t{x} - dest.left, src.width(), dw);
    }
    for (int y = area.top; y < area.bottom; ++y) {
        const int sy = src.top + sample_at(std::int64_t{y} - dest.top, src.height(), dh);
        const pixel* in = &image.pixels[static_cast<std::size_t>(sy) * image.width];
        pixel* out = &target.pixels[static_cast<std::size_t>(y) * target.width + area.left];
        const int n = area.width();
        if (!blend) {
            for (int i = 0; i < n; ++i) out[i] = in[columns[i]];
        } else if (fade == 255) {
            for (int i = 0; i < n; ++i) out[i] = blend_over(out[i], in[columns[i]]);
        } else {
            for (int i = 0; i < n; ++i) out[i] = blend_over(out[i], scale_pixel(in[columns[i]], fade));
        }
    }
}

void fill_rect(surface& target, const rect& area, std::uint32_t rgb, const rect& clip) {
    rect part = intersect(intersect(area, clip), target.bounds());
    const pixel color = 0xFF000000u | (rgb & 0x00FFFFFFu);
    for (int y = part.top; y < part.bottom; ++y) {
        pixel* row = &target.pixels[static_cast<std::size_t>(y) * target.width];
        std::fill(row + part.left, row + part.right, color);
    }
}

void blend_mask(surface& target, int x, int y, const std::uint8_t* mask, int width, int height, int pitch,
                std::uint32_t rgb, const rect& clip) {
    rect part = intersect(intersect({x, y, x + width, y + height}, clip), target.bounds());
    const std::uint32_t r = (rgb >> 16) & 0xFF;
    const std::uint32_t g = (rgb >> 8) & 0xFF;
    const std::uint32_t b = rgb & 0xFF;
    for (int py = part.top; py < part.bottom; ++py) {
        const std::uint8_t* cover = mask + static_cast<std::ptrdiff_t>(py - y) * pitch;
        pixel* out = &target.pixels[static_cast<std::size_t>(py) * target.width];
        for (int px = part.left; px < part.right; ++px) {
            const std::uint32_t c = cover[px - x];
            if (c == 0) continue;
            const pixel src = (c << 24) | (mul_div_255(r, c) << 16) | (mul_div_255(g, c) << 8) | mul_div_255(b, c);
            out[px] = blend_over(out[px], src);
        }
    }
}

}  // namespace skinui
