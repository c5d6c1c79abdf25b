// Pixel arithmetic: premultiplication, blending with per-pixel and constant
// alpha, nearest-neighbour stretching and clipping.
#include <gtest/gtest.h>

#include "render_test_support.h"
#include "toolkit/blend.h"

namespace {

using render_test::hex;
using skinui::pixel;
using skinui::rect;
using skinui::surface;

TEST(render_blend_test, premultiplication_copies_opaque_and_truncates_the_rest) {
    struct case_t {
        std::uint8_t r, g, b, a;
        pixel expected;
    } cases[] = {
        {10, 20, 30, 255, 0xFF0A141Eu},  // opaque: copied
        {255, 255, 255, 128, 0x80808080u},
        {200, 100, 50, 0, 0x00000000u},  // fully transparent: black
        {255, 0, 0, 1, 0x01010000u},
        {100, 100, 100, 254, 0xFE636363u},  // 100 * 254 / 255 = 99.6, truncated to 99
        {1, 2, 3, 200, 0xC8000102u},
    };
    for (const case_t& c : cases) {
        EXPECT_EQ(skinui::premultiply(c.r, c.g, c.b, c.a), c.expected)
            << "rgba " << int(c.r) << "," << int(c.g) << "," << int(c.b) << "," << int(c.a) << " gave "
            << hex(skinui::premultiply(c.r, c.g, c.b, c.a)) << " expected " << hex(c.expected);
    }
}

TEST(render_blend_test, source_over_destination_with_premultiplied_alpha) {
    struct case_t {
        pixel dst, src, expected;
    } cases[] = {
        {0xFFFFFFFFu, 0xFFFF0000u, 0xFFFF0000u},  // opaque source replaces
        {0xFFFFFFFFu, 0x00000000u, 0xFFFFFFFFu},  // transparent source keeps
        {0xFFFFFFFFu, 0x80000000u, 0xFF7F7F7Fu},  // half black over white
        {0xFF204060u, 0x80400000u, 0xFF502030u},  // dst * 127/255 rounded, plus src
        {0x00000000u, 0x80402010u, 0x80402010u},  // over nothing: the source
    };
    for (const case_t& c : cases) {
        EXPECT_EQ(skinui::blend_over(c.dst, c.src), c.expected)
            << hex(c.src) << " over " << hex(c.dst) << " gave " << hex(skinui::blend_over(c.dst, c.src)) << " expected "
            << hex(c.expected);
    }
    // Exhaustive check of the fast rounding against the plain formula.
    for (std::uint32_t x = 0; x < 256; ++x) {
        for (std::uint32_t a = 0; a < 256; ++a) {
            const std::uint32_t exact = (x * a * 2 + 255) / 510;
            ASSERT_EQ(skinui::mul_div_255(x, a), exact) << x << " * " << a << " / 255";
        }
    }
}

TEST(render_blend_test, constant_fade_scales_the_image_before_blending) {
    surface image = render_test::filled(2, 2, 0xFF0000FFu);  // opaque blue
    surface target = render_test::filled(2, 2, 0xFFFFFFFFu);
    skinui::stretch_image(target, {0, 0, 2, 2}, image, {0, 0, 2, 2}, target.bounds(), true, 128);
    // blue 255 * 128/255 = 128 plus white 255 * 127/255 = 127; red and green 127.
    for (pixel p : target.pixels) EXPECT_EQ(p, 0xFF7F7FFFu) << "got " << hex(p);

    surface half = render_test::filled(1, 1, 0x80800000u);  // half-transparent red
    surface back = render_test::filled(1, 1, 0xFF0000FFu);
    skinui::stretch_image(back, {0, 0, 1, 1}, half, {0, 0, 1, 1}, back.bounds(), true, 128);
    // source scaled to 0x40400000, then over blue: blue 255 * 191/255.
    EXPECT_EQ(back.pixels[0], 0xFF4000BFu) << "got " << hex(back.pixels[0]);
}

// A destination that starts far to the left: the sampler works on offsets of
// about 2^30 and must still take every pixel from inside the image.
TEST(render_blend_test, far_destinations_sample_inside_the_image) {
    surface image;
    image.resize(4, 1);
    for (int x = 0; x < 4; ++x) image.at(x, 0) = 0xFF000000u | static_cast<pixel>(x + 1);
    struct case_t {
        rect dest;
        pixel expected;  // every visible pixel
    } cases[] = {
        // 2^30 of 2^30 + 1001000 pixels lie left of the surface: the last image column.
        {{-1073741824, 0, 1001000, 10}, 0xFF000004u},
        {{-2147483647, 0, 2147483647, 10}, 0xFF000003u},  // the middle of the widest span
        {{0, 0, 2147483647, 10}, 0xFF000001u},            // the surface shows the first column
    };
    for (const case_t& c : cases) {
        surface target = render_test::filled(8, 10, 0xFFFFFFFFu);
        skinui::stretch_image(target, c.dest, image, image.bounds(), target.bounds(), false, 255);
        for (pixel p : target.pixels) {
            ASSERT_EQ(p, c.expected) << "dest left " << c.dest.left << " right " << c.dest.right << " got " << hex(p);
        }
    }
}

TEST(render_blend_test, copy_without_blend_replaces_even_transparent_pixels) {
    surface image = render_test::filled(1, 1, 0x00000000u);
    surface target = render_test::filled(3, 1, 0xFF112233u);
    skinui::stretch_image(target, {1, 0, 2, 1}, image, {0, 0, 1, 1}, target.bounds(), false, 255);
    EXPECT_EQ(target.pixels[0], 0xFF112233u);
    EXPECT_EQ(target.pixels[1], 0x00000000u);
    EXPECT_EQ(target.pixels[2], 0xFF112233u);
}

// Each pixel of a test image is unique: x in the low byte, y in the next.
surface coordinate_image(int width, int height) {
    surface s;
    s.resize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) s.at(x, y) = 0xFF000000u | (static_cast<pixel>(y) << 16) | x;
    return s;
}

TEST(render_blend_test, nearest_neighbour_stretch_maps_pixel_centres) {
    struct case_t {
        int source_width, dest_width;
        std::vector<int> expected_columns;
    } cases[] = {
        {2, 4, {0, 0, 1, 1}},  // enlarged: each pixel doubled
        {4, 2, {1, 3}},        // reduced: the pixel under each centre
        {3, 5, {0, 0, 1, 2, 2}},
        {5, 5, {0, 1, 2, 3, 4}},  // same size: a copy
    };
    for (const case_t& c : cases) {
        surface image = coordinate_image(c.source_width, 1);
        surface target;
        target.resize(c.dest_width, 1);
        skinui::stretch_image(target, {0, 0, c.dest_width, 1}, image, {0, 0, c.source_width, 1}, target.bounds(), false,
                              255);
        for (int x = 0; x < c.dest_width; ++x) {
            EXPECT_EQ(static_cast<int>(target.at(x, 0) & 0xFF), c.expected_columns[x])
                << c.source_width << " px over " << c.dest_width << " px, at " << x;
        }
    }
}

TEST(render_blend_test, progress_fill_stretch_496x12_over_498x14_uses_every_source_pixel_in_order) {
    surface image = coordinate_image(496, 12);
    surface target;
    target.resize(498, 14);
    skinui::stretch_image(target, target.bounds(), image, image.bounds(), target.bounds(), false, 255);
    std::vector<bool> column_seen(496), row_seen(12);
    int last_column = -1;
    for (int x = 0; x < 498; ++x) {
        const int column = static_cast<int>(target.at(x, 0) & 0xFFFF);
        ASSERT_GE(column, last_column) << "columns go backwards at " << x;
        last_column = column;
        column_seen[column] = true;
    }
    for (int y = 0; y < 14; ++y) row_seen[(target.at(0, y) >> 16) & 0xFF] = true;
    EXPECT_EQ(target.at(0, 0), image.at(0, 0));
    EXPECT_EQ(target.at(497, 13), image.at(495, 11));
    EXPECT_EQ(std::count(column_seen.begin(), column_seen.end(), true), 496);
    EXPECT_EQ(std::count(row_seen.begin(), row_seen.end(), true), 12);
    EXPECT_EQ(std::count(target.pixels.begin(), target.pixels.end(), 0u), 0) << "every pixel covered";
}

TEST(render_blend_test, drawing_stays_inside_the_clip_and_the_surface) {
    surface image = render_test::filled(4, 4, 0xFFFF0000u);
    surface target;
    target.resize(6, 6);
    const rect clip{2, 1, 4, 5};
    // The destination hangs over the surface's edges on every side.
    skinui::stretch_image(target, {-3, -3, 9, 9}, image, {0, 0, 4, 4}, clip, true, 255);
    skinui::fill_rect(target, {-10, 1, 100, 2}, 0x00FF00, clip);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool inside = clip.contains({x, y});
            const pixel expected = !inside ? 0u : (y == 1 ? 0xFF00FF00u : 0xFFFF0000u);
            EXPECT_EQ(target.at(x, y), expected) << "at " << x << "," << y << " got " << hex(target.at(x, y));
        }
    }
    // A source outside the image draws nothing rather than reading past it.
    surface untouched;
    untouched.resize(2, 2);
    skinui::stretch_image(untouched, {0, 0, 2, 2}, image, {2, 2, 8, 8}, untouched.bounds(), false, 255);
    EXPECT_EQ(std::count(untouched.pixels.begin(), untouched.pixels.end(), 0u), 4);
}

TEST(render_blend_test, coverage_mask_blends_the_text_colour) {
    surface target = render_test::filled(3, 1, 0xFFFFFFFFu);
    const std::uint8_t mask[] = {0, 255, 128};
    skinui::blend_mask(target, 0, 0, mask, 3, 1, 3, 0xFF14B9D6u, target.bounds());
    EXPECT_EQ(target.pixels[0], 0xFFFFFFFFu);
    EXPECT_EQ(target.pixels[1], 0xFF14B9D6u) << "alpha of the colour is ignored; full coverage is the colour";
    // 0x14*128/255 + 255*127/255 = 10 + 127
    EXPECT_EQ(target.pixels[2], 0xFF89DCEAu) << "got " << hex(target.pixels[2]);
}

}  // namespace
