// Pixel arithmetic on premultiplied BGRA surfaces: premultiplication,
// nearest-neighbour stretching, alpha blending and coverage blending of text.
#pragma once

#include <cstdint>

#include "toolkit/surface.h"

namespace skinui {

// x * a / 255 rounded to nearest, exact for 0..255 operands.
constexpr std::uint32_t mul_div_255(std::uint32_t x, std::uint32_t a) {
    std::uint32_t t = x * a + 128;
    return (t + (t >> 8)) >> 8;
}

// A straight-alpha RGBA value as a premultiplied pixel: alpha 255 copies the
// colour, any other alpha multiplies it by alpha / 255 with integer division.
constexpr pixel premultiply(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    if (a == 255) return 0xFF000000u | (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
    std::uint32_t pr = std::uint32_t{r} * a / 255;
    std::uint32_t pg = std::uint32_t{g} * a / 255;
    std::uint32_t pb = std::uint32_t{b} * a / 255;
    return (std::uint32_t{a} << 24) | (pr << 16) | (pg << 8) | pb;
}

// Source over destination, both premultiplied.
constexpr pixel blend_over(pixel dst, pixel src) {
    std::uint32_t inverse = 255 - (src >> 24);
    if (inverse == 0) return src;
    std::uint32_t rb = (dst & 0x00FF00FFu) * inverse + 0x00800080u;
    rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    std::uint32_t ag = ((dst >> 8) & 0x00FF00FFu) * inverse + 0x00800080u;
    ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
    return src + (rb | ag);
}

// Every channel of a premultiplied pixel scaled by a / 255.
constexpr pixel scale_pixel(pixel p, std::uint32_t a) {
    std::uint32_t rb = (p & 0x00FF00FFu) * a + 0x00800080u;
    rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    std::uint32_t ag = ((p >> 8) & 0x00FF00FFu) * a + 0x00800080u;
    ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
    return rb | ag;
}

// The common part of two rectangles; all 0 when they do not meet.
rect intersect(const rect& a, const rect& b);
bool intersects(const rect& a, const rect& b);

// Scales the source part of an image onto dest with nearest-neighbour
// sampling (each destination pixel takes the source pixel under its centre),
// writing only inside clip. With blend the image goes over the surface with
// its per-pixel alpha and the constant alpha fade; without it is copied.
void stretch_image(surface& target, const rect& dest, const surface& image, const rect& source, const rect& clip,
                   bool blend, std::uint8_t fade);

// Fills a rectangle (inside clip) with an opaque colour 0x..RRGGBB.
void fill_rect(surface& target, const rect& area, std::uint32_t rgb, const rect& clip);

// Paints an 8-bit coverage mask (rows of pitch bytes) at x, y in the opaque
// colour 0x..RRGGBB, coverage as alpha, only inside clip.
void blend_mask(surface& target, int x, int y, const std::uint8_t* mask, int width, int height, int pitch,
                std::uint32_t rgb, const rect& clip);

}  // namespace skinui
