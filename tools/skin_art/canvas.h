// A straight-alpha RGBA canvas in floating point with anti-aliased shapes,
// used to paint the skin's artwork before it is written as PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skin_art {

struct colour {
    float r = 0, g = 0, b = 0, a = 1;  // 0..1, straight alpha
};

// "#rrggbb" with an optional alpha 0..1.
colour hex(std::uint32_t rgb, float alpha = 1.0f);
colour mix(const colour& a, const colour& b, float t);

// A rounded rectangle in pixel coordinates (edges on pixel boundaries).
struct round_box {
    float left, top, right, bottom, radius;
};

class canvas {
public:
    canvas(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }

    // Blends colour over the pixel with the given coverage (0..1).
    void blend(int x, int y, const colour& c, float coverage);
    // Fills a rounded box; shade(x, y) gives the colour at each pixel.
    template <class shade_fn>
    void fill_box(const round_box& box, shade_fn shade);
    // Strokes the outline of a rounded box with the given line width.
    void stroke_box(const round_box& box, float line_width, const colour& c);
    // A straight line with round caps.
    void line(float x0, float y0, float x1, float y1, float line_width, const colour& c);
    // Blends a coverage mask (width * height bytes) at x, y.
    void blend_mask(int x, int y, int mask_width, int mask_height, const std::uint8_t* mask, int pitch,
                    const colour& c);

    // Writes an 8-bit RGBA PNG (colour type 6); false on failure.
    bool write_png(const std::string& path) const;

private:
    int width_;
    int height_;
    std::vector<colour> pixels_;
};

// Signed distance from the pixel centre (x + 0.5, y + 0.5) to a rounded box.
float box_distance(const round_box& box, float px, float py);
// Coverage of a pixel by a shape from the signed distance of its centre.
float coverage_from_distance(float distance);

template <class shade_fn>
void canvas::fill_box(const round_box& box, shade_fn shade) {
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            float cover = coverage_from_distance(box_distance(box, x + 0.5f, y + 0.5f));
            if (cover > 0) blend(x, y, shade(x, y), cover);
        }
    }
}

}  // namespace skin_art
