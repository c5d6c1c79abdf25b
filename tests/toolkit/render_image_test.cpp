// Images: attribute strings, decoding with premultiplication, the per-window
// cache and drawing a control's image slot (source, dest, clipping, fade,
// corners, missing files).
#include <gtest/gtest.h>

#include "render_test_support.h"
#include "toolkit/blend.h"
#include "toolkit/image_attribute.h"
#include "toolkit/image_cache.h"
#include "toolkit/image_drawing.h"
#include "toolkit/skin_resources.h"

namespace {

using render_test::hex;
using render_test::rgba;
using skinui::draw_info;
using skinui::pixel;
using skinui::rect;
using skinui::surface;

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(render_image_attribute_test, parses_the_pairs_it_knows_and_stops_at_the_first_misfit) {
    struct case_t {
        std::wstring text;
        std::wstring name;
        rect source, dest, corner;
        int fade;
        bool hole, xtiled;
    } cases[] = {
        {L"bg1.png", L"bg1.png", {}, {}, {}, 255, false, false},
        {L"关闭.png", L"关闭.png", {}, {}, {}, 255, false, false},
        {L"file='progfg.png' source='0,0,498,14'", L"progfg.png", {0, 0, 498, 14}, {}, {}, 255, false, false},
        {L"file = 'a.png' dest='1,2,3,4'", L"a.png", {}, {1, 2, 3, 4}, {}, 255, false, false},
        {L"file='a.png' source='1,2", L"a.png", {}, {}, {}, 255, false, false},           // unterminated value
        {L"file='a.png' bogus dest='1,2,3,4'", L"a.png", {}, {}, {}, 255, false, false},  // no "=" after a name
        {L"file=a.png", L"", {}, {}, {}, 255, false, false},                              // value not quoted
        {L"file='a.png' fade='300' hole='true' xtiled='true' corner='1,1,2,2'",
         L"a.png",
         {},
         {},
         {1, 1, 2, 2},
         255,
         true,
         true},
        {L"fade='128' scale9='2,3,4,5' file='c.png'", L"c.png", {}, {}, {2, 3, 4, 5}, 128, false, false},
        {L"res='7' restype='PNG' color='#ff0000' mask='#ff00ff' hsl='true' file='b.png'",
         L"b.png",
         {},
         {},
         {},
         255,
         false,
         false},
        {L"file='d.png' dest='-2,5,x'", L"d.png", {}, {-2, 5, 0, 0}, {}, 255, false, false},
        // Offsets are held to the layout's coordinate bound, like every number of a skin.
        {L"file='e.png' dest='-1073741824,0,1001000,10'",
         L"e.png",
         {},
         {-1000000, 0, 1000000, 10},
         {},
         255,
         false,
         false},
        {L"file='e.png' source='0,-99999999999,2147483648,5'",
         L"e.png",
         {0, -1000000, 1000000, 5},
         {},
         {},
         255,
         false,
         false},
        {L"", L"", {}, {}, {}, 255, false, false},
    };
    for (const case_t& c : cases) {
        draw_info info;
        info.set(c.text);
        skinui::parse_image_attribute(info.attribute, info);
        const std::string where = "for \"" + narrow(c.text) + "\"";
        EXPECT_EQ(info.image_name, c.name) << where;
        EXPECT_EQ(info.source, c.source) << where;
        EXPECT_EQ(info.dest, c.dest) << where;
        EXPECT_EQ(info.corner, c.corner) << where;
        EXPECT_EQ(info.fade, c.fade) << where;
        EXPECT_EQ(info.hole, c.hole) << where;
        EXPECT_EQ(info.xtiled, c.xtiled) << where;
    }
}

TEST(render_image_attribute_test, set_replaces_everything_and_clear_empties_the_slot) {
    draw_info info;
    info.set(L"file='a.png' dest='1,1,2,2'");
    info.parsed = true;
    info.dest = {1, 1, 2, 2};
    info.fade = 3;
    info.set(L"b.png");
    EXPECT_EQ(info.attribute, L"b.png");
    EXPECT_FALSE(info.parsed);
    EXPECT_EQ(info.dest, rect{});
    EXPECT_EQ(info.fade, 255);
    info.clear();
    EXPECT_TRUE(info.attribute.empty());
}

TEST(render_image_decode_test, premultiplies_and_marks_transparency) {
    std::vector<std::uint8_t> png = render_test::png_bytes(3, 1, [](int x, int) {
        const rgba pixels[] = {{10, 20, 30, 255}, {255, 255, 255, 128}, {100, 100, 100, 254}};
        return pixels[x];
    });
    skinui::image_info image;
    ASSERT_TRUE(skinui::decode_image(png, image));
    ASSERT_EQ(image.bitmap.width, 3);
    ASSERT_EQ(image.bitmap.height, 1);
    EXPECT_TRUE(image.has_alpha);
    const pixel expected[] = {0xFF0A141Eu, 0x80808080u, 0xFE636363u};
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(image.bitmap.at(x, 0), expected[x]) << "at " << x << " got " << hex(image.bitmap.at(x, 0));
    }

    std::vector<std::uint8_t> opaque = render_test::png_bytes(2, 2, [](int, int) { return rgba{1, 2, 3, 255}; });
    ASSERT_TRUE(skinui::decode_image(opaque, image));
    EXPECT_FALSE(image.has_alpha);
}

TEST(render_image_decode_test, rejects_bytes_that_are_no_image) {
    std::vector<std::uint8_t> png = render_test::png_bytes(4, 4, [](int, int) { return rgba{1, 2, 3, 255}; });
    const std::vector<std::uint8_t> truncated(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    const std::vector<std::uint8_t> text{'h', 'e', 'l', 'l', 'o'};
    // A PNG header that claims 100000 x 100000 pixels.
    const std::vector<std::uint8_t> huge_header = [&] {
        std::vector<std::uint8_t> huge(png.begin(), png.begin() + 33);
        huge[16] = 0x00, huge[17] = 0x01, huge[18] = 0x86, huge[19] = 0xA0;
        huge[20] = 0x00, huge[21] = 0x01, huge[22] = 0x86, huge[23] = 0xA0;
        return huge;
    }();
    for (const auto* bytes : {&truncated, &text, &huge_header}) {
        skinui::image_info image;
        EXPECT_FALSE(skinui::decode_image(*bytes, image)) << bytes->size() << " bytes";
    }
    skinui::image_info image;
    EXPECT_FALSE(skinui::decode_image({}, image));
}

// Images in a fresh directory that is the resource path.
class render_image_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        skinui::clear_resource_zip();
        skinui::set_resource_path(dir_.wide());
    }

    template <typename F>
    void add_png(const std::string& name, int width, int height, F colour) {
        render_test::write_png(dir_.path() / name, width, height, colour);
    }

    // Draws the slot with the attribute on a control and returns what it said.
    bool draw(surface& target, const rect& control, draw_info& info, rect clip = {0, 0, 10000, 10000}) {
        skinui::paint_target paint{target, clip};
        return skinui::draw_image_slot(paint, cache_, control, info);
    }

    render_test::temp_dir dir_;
    skinui::image_cache cache_;
};

rgba coordinate_colour(int x, int y) {
    return {static_cast<std::uint8_t>(x >> 8), static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x & 0xFF), 255};
}
int column_of(pixel p) {
    return static_cast<int>(((p >> 16) & 0xFF) << 8 | (p & 0xFF));
}
int row_of(pixel p) {
    return static_cast<int>((p >> 8) & 0xFF);
}

TEST_F(render_image_fixture, cache_loads_a_name_once_and_retries_a_missing_one) {
    add_png("a.png", 2, 2, [](int, int) { return rgba{1, 2, 3, 255}; });
    const skinui::image_info* first = cache_.load(L"a.png");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(cache_.load(L"a.png"), first);

    EXPECT_EQ(cache_.load(L"late.png"), nullptr);
    add_png("late.png", 1, 1, [](int, int) { return rgba{9, 9, 9, 255}; });
    EXPECT_NE(cache_.load(L"late.png"), nullptr);
    EXPECT_EQ(cache_.load(L""), nullptr);

    // Failing the skin, the name is tried as a path.
    render_test::temp_dir other;
    render_test::write_png(other.path() / "b.png", 1, 1, [](int, int) { return rgba{9, 9, 9, 255}; });
    EXPECT_NE(cache_.load(other.wide() + L"b.png"), nullptr);

    std::ofstream(dir_.path() / "broken.png") << "not a png";
    EXPECT_EQ(cache_.load(L"broken.png"), nullptr);
}

TEST_F(render_image_fixture, initial_progress_fill_squeezes_the_whole_image_into_the_first_4_px) {
    add_png("progfg.png", 496, 12, [](int, int) { return rgba{0, 200, 0, 255}; });
    surface target = render_test::filled(586, 280, 0xFFFFFFFFu);
    const rect bar{46, 139, 544, 153};
    draw_info fore;
    fore.set(L"progfg.png");
    fore.dest = {0, 0, 498 * 1 / 100, 14};  // value 1 of 0..100
    ASSERT_TRUE(draw(target, bar, fore));
    for (int y = 130; y < 160; ++y) {
        for (int x = 40; x < 60; ++x) {
            const bool filled = x >= 46 && x < 50 && y >= 139 && y < 153;
            EXPECT_EQ(target.at(x, y), filled ? 0xFF00C800u : 0xFFFFFFFFu) << "at " << x << "," << y;
        }
    }
}

TEST_F(render_image_fixture, full_progress_cuts_the_source_to_the_image_and_stretches_it_over_the_bar) {
    add_png("progfg.png", 496, 12, coordinate_colour);
    surface target = render_test::filled(586, 280, 0xFFFFFFFFu);
    const rect bar{46, 139, 544, 153};
    draw_info fore;
    fore.set(L"file='progfg.png' source='0,0,498,14'");
    fore.dest = {0, 0, 498, 14};
    ASSERT_TRUE(draw(target, bar, fore));
    EXPECT_EQ(fore.source, (rect{0, 0, 498, 14})) << "the slot keeps the string's source; cutting is per drawing";
    EXPECT_EQ(column_of(target.at(46, 139)), 0);
    EXPECT_EQ(row_of(target.at(46, 139)), 0);
    EXPECT_EQ(column_of(target.at(543, 152)), 495);
    EXPECT_EQ(row_of(target.at(543, 152)), 11);
    EXPECT_EQ(target.at(544, 145), 0xFFFFFFFFu) << "nothing right of the bar";
    EXPECT_EQ(target.at(100, 153), 0xFFFFFFFFu) << "nothing below the bar";
    for (int x = 46; x < 544; ++x) ASSERT_EQ(target.at(x, 145) >> 24, 0xFFu) << "uncovered at " << x;
}

TEST_F(render_image_fixture, dest_offsets_are_cut_to_the_control_and_a_miss_draws_nothing) {
    add_png("red.png", 2, 2, [](int, int) { return rgba{255, 0, 0, 255}; });
    const rect control{10, 10, 20, 20};
    struct case_t {
        std::wstring attribute;
        rect clip;
        bool drawn;
        rect painted;
    } cases[] = {
        {L"red.png", {0, 0, 40, 40}, true, {10, 10, 20, 20}},
        {L"file='red.png' dest='2,3,50,50'", {0, 0, 40, 40}, true, {12, 13, 20, 20}},
        {L"file='red.png' dest='20,0,30,10'", {0, 0, 40, 40}, false, {}},              // right of the control
        {L"file='red.png' dest='2,2,4,4'", {15, 15, 40, 40}, false, {}},               // outside the paint rectangle
        {L"file='red.png'", {15, 0, 17, 40}, true, {15, 10, 17, 20}},                  // clipped to the paint rectangle
        {L"file='red.png' dest='-5,-5,3,3'", {0, 0, 40, 40}, true, {10, 10, 13, 13}},  // kept inside the control
        {L"file='red.png' source='5,5,9,9'", {0, 0, 40, 40}, false, {}},               // source outside the image
        {L"", {0, 0, 40, 40}, false, {}},
    };
    for (const case_t& c : cases) {
        surface target;
        target.resize(40, 40);
        draw_info info;
        info.set(c.attribute);
        EXPECT_EQ(draw(target, control, info, c.clip), c.drawn) << narrow(c.attribute);
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 40; ++x) {
                const pixel expected = c.painted.contains({x, y}) ? 0xFFFF0000u : 0u;
                ASSERT_EQ(target.at(x, y), expected) << narrow(c.attribute) << " at " << x << "," << y;
            }
        }
    }
}

TEST_F(render_image_fixture, missing_image_draws_nothing_is_not_retried_and_the_rest_paints) {
    add_png("bg.png", 4, 4, [](int, int) { return rgba{0, 0, 255, 255}; });
    surface target;
    target.resize(8, 8);
    const rect control{0, 0, 8, 8};
    draw_info background, missing;
    background.set(L"bg.png");
    missing.set(L"file='nothere.png' dest='0,0,4,4'");
    EXPECT_TRUE(draw(target, control, background));
    EXPECT_FALSE(draw(target, control, missing));
    EXPECT_TRUE(missing.parsed);
    for (pixel p : target.pixels) ASSERT_EQ(p, 0xFF0000FFu) << "the background stays whole";

    // The file appears, but the slot keeps its failed state until set again.
    add_png("nothere.png", 1, 1, [](int, int) { return rgba{255, 0, 0, 255}; });
    EXPECT_FALSE(draw(target, control, missing));
    EXPECT_EQ(target.at(0, 0), 0xFF0000FFu);
    missing.set(L"file='nothere.png' dest='0,0,4,4'");
    EXPECT_TRUE(draw(target, control, missing));
    EXPECT_EQ(target.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(target.at(5, 5), 0xFF0000FFu);
}

TEST_F(render_image_fixture, transparent_images_and_fade_are_blended_opaque_ones_copied) {
    add_png("half.png", 1, 1, [](int, int) { return rgba{255, 0, 0, 128}; });
    add_png("solid.png", 1, 1, [](int, int) { return rgba{0, 0, 255, 255}; });
    struct case_t {
        std::wstring attribute;
        pixel expected;
    } cases[] = {
        {L"half.png", 0xFFFF7F7Fu},  // 0x80800000 over white
        {L"solid.png", 0xFF0000FFu},
        {L"file='solid.png' fade='128'", 0xFF7F7FFFu},  // blue at 128/255 over white
        {L"file='solid.png' fade='0'", 0xFFFFFFFFu},
    };
    for (const case_t& c : cases) {
        surface target = render_test::filled(2, 2, 0xFFFFFFFFu);
        draw_info info;
        info.set(c.attribute);
        draw(target, {0, 0, 2, 2}, info);
        EXPECT_EQ(target.at(1, 1), c.expected) << narrow(c.attribute) << " gave " << hex(target.at(1, 1));
    }
}

TEST_F(render_image_fixture, corners_stay_unscaled_and_hole_leaves_the_centre) {
    // 3 x 3 image: a distinct colour per cell.
    add_png("nine.png", 3, 3, [](int x, int y) {
        return rgba{static_cast<std::uint8_t>(10 * (x + 1)), static_cast<std::uint8_t>(10 * (y + 1)), 0, 255};
    });
    auto cell = [](int col, int row) { return skinui::premultiply(10 * (col + 1), 10 * (row + 1), 0, 255); };
    for (bool hole : {false, true}) {
        surface target;
        target.resize(7, 5);
        draw_info info;
        info.set(hole ? L"file='nine.png' corner='1,1,1,1' hole='true'" : L"file='nine.png' corner='1,1,1,1'");
        ASSERT_TRUE(draw(target, {0, 0, 7, 5}, info));
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 7; ++x) {
                const int col = x == 0 ? 0 : (x == 6 ? 2 : 1);
                const int row = y == 0 ? 0 : (y == 4 ? 2 : 1);
                const pixel expected = hole && col == 1 && row == 1 ? 0u : cell(col, row);
                EXPECT_EQ(target.at(x, y), expected) << "hole " << hole << " at " << x << "," << y;
            }
        }
    }
}

}  // namespace
