// Fonts and text: face resolution with CJK glyphs, metrics, alignment, word
// break, clipping, the text colour, and markup links with hover.
#include <gtest/gtest.h>

#include "render_test_support.h"
#include "tests/support/stderr_capture.h"
#include "toolkit/font_table.h"
#include "toolkit/glyph_source.h"
#include "toolkit/text_renderer.h"

namespace {

using render_test::hex;
using skinui::DT_BOTTOM;
using skinui::DT_CENTER;
using skinui::DT_END_ELLIPSIS;
using skinui::DT_LEFT;
using skinui::DT_RIGHT;
using skinui::DT_SINGLELINE;
using skinui::DT_VCENTER;
using skinui::DT_WORDBREAK;
using skinui::font_info;
using skinui::pixel;
using skinui::rect;
using skinui::surface;

inline constexpr wchar_t FACE[] = L"微软雅黑";
inline constexpr pixel BLACK = 0xFF000000u;

// The smallest rectangle holding every pixel that differs from background.
rect ink_bounds(const surface& s, pixel background = BLACK) {
    rect r{s.width, s.height, 0, 0};
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            if (s.at(x, y) == background) continue;
            r.left = std::min(r.left, x);
            r.top = std::min(r.top, y);
            r.right = std::max(r.right, x + 1);
            r.bottom = std::max(r.bottom, y + 1);
        }
    }
    return r.empty() ? rect{} : r;
}

int count_pixels(const surface& s, pixel value, const rect& area) {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) n += s.at(x, y) == value;
    return n;
}

std::string show(const rect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

class render_text_fixture : public ::testing::Test {
protected:
    surface draw(const std::wstring& text, unsigned style, const rect& box, int width = 200, int height = 100,
                 rect clip = {0, 0, 10000, 10000}) {
        surface s = render_test::filled(width, height, BLACK);
        skinui::paint_target target{s, clip};
        skinui::draw_plain_text(target, font_, box, text, 0xFFFFFFFFu, style);
        return s;
    }

    skinui::font_table fonts_;
    font_info* font_ = fonts_.add(0, FACE, 16, false, false, false);
};

TEST(render_font_test, chinese_face_resolves_to_a_face_with_cjk_glyphs) {
    skinui::font_table fonts;
    font_info* font = fonts.add(0, FACE, 12, false, false, false);
    ASSERT_NE(font, nullptr);
    ASSERT_TRUE(font->glyphs) << "no face could be opened";
    for (char32_t ch : std::u32string(U"点击下载岚栖游戏上号器A")) {
        const skinui::glyph& g = font->glyphs->get(ch);
        int ink = 0;
        for (std::uint8_t c : g.coverage) ink += c;
        EXPECT_GT(ink, 0) << "no ink for U+" << std::hex << static_cast<std::uint32_t>(ch) << " in "
                          << font->glyphs->family();
        EXPECT_GT(g.advance, 0);
    }
    EXPECT_EQ(font->height, font->ascent + font->descent);
    EXPECT_GE(font->height, 12);
    EXPECT_GT(font->average_char_width, 0);
}

// Characters that no installed font has are drawn as the missing-glyph box;
// the font says so once, not at every character or every paint.
TEST(render_font_test, a_character_no_font_has_is_logged_once_per_font) {
    const std::string log_path = testing::TempDir() + "missing_glyph_log.txt";
    std::shared_ptr<skinui::glyph_source> source;
    std::string log;
    {
        test_support::stderr_capture capture(log_path);
        ASSERT_TRUE(capture.active());
        source = skinui::glyph_source::open(FACE, 14, false, false);
        ASSERT_TRUE(source);
        // Private-use characters of plane 16: no font assigns them glyphs.
        for (char32_t ch : {U'\U0010FFFD', U'\U0010FFFC', U'\U0010FFFD', U'A', U'\U0010FFFB'}) (void)source->get(ch);
        log = capture.text();
    }
    std::size_t lines = 0;
    for (std::size_t at = log.find("no installed font has"); at != std::string::npos;
         at = log.find("no installed font has", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u) << log;
    EXPECT_NE(log.find("U+10FFFD"), std::string::npos) << log;
}

TEST(render_font_test, table_lookup_default_and_underlined_twins) {
    skinui::font_table fonts;
    font_info* system_default = fonts.get(-1);
    ASSERT_NE(system_default, nullptr) << "a default font exists without any declared";
    EXPECT_EQ(system_default->size, skinui::DEFAULT_FONT_SIZE);
    EXPECT_EQ(fonts.get(7), system_default);

    font_info* small = fonts.add(0, FACE, 12, false, false, false);
    font_info* big = fonts.add(4, FACE, 16, true, false, false);
    EXPECT_EQ(fonts.get(4), big);
    EXPECT_EQ(fonts.get(-1), system_default) << "adding does not make a default";
    fonts.set_default(0);
    EXPECT_EQ(fonts.get(-1), small);
    EXPECT_EQ(fonts.get(3), small) << "an unknown index draws with the default font";
    fonts.set_default(9);
    EXPECT_EQ(fonts.get(-1), small) << "an unknown id does not change the default";

    font_info* twin = fonts.underlined(4);
    EXPECT_TRUE(twin->underline);
    EXPECT_FALSE(big->underline);
    EXPECT_EQ(twin->size, 16);
    EXPECT_TRUE(twin->bold);
    EXPECT_EQ(twin->height, big->height);
    EXPECT_EQ(fonts.underlined(4), twin) << "made once";

    font_info* replaced = fonts.add(0, FACE, 13, false, false, false);
    EXPECT_EQ(fonts.get(-1), replaced) << "a replaced default stays the default under its id";
    font_info* odd = fonts.add(5, std::wstring(40, L'x'), 0, false, false, false);
    EXPECT_EQ(odd->face.size(), 32u);
    EXPECT_EQ(odd->size, skinui::DEFAULT_FONT_SIZE);
}

TEST(render_font_test, bold_and_size_change_the_glyphs) {
    skinui::font_table fonts;
    auto ink = [](font_info* font, char32_t ch) {
        int sum = 0;
        for (std::uint8_t c : font->glyphs->get(ch).coverage) sum += c;
        return sum;
    };
    font_info* regular = fonts.add(1, FACE, 16, false, false, false);
    font_info* bold = fonts.add(2, FACE, 16, true, false, false);
    font_info* small = fonts.add(3, FACE, 12, false, false, false);
    ASSERT_TRUE(regular->glyphs && bold->glyphs && small->glyphs);
    EXPECT_GT(ink(bold, U'温'), ink(regular, U'温')) << "bold draws heavier strokes";
    EXPECT_GT(skinui::measure_line(regular, L"温馨提示").cx, skinui::measure_line(small, L"温馨提示").cx);
}

TEST_F(render_text_fixture, measure_sums_advances_and_takes_the_font_height) {
    const skinui::size empty = skinui::measure_line(font_, L"");
    EXPECT_EQ(empty.cx, 0);
    EXPECT_EQ(empty.cy, font_->height);
    const int a = skinui::measure_line(font_, L"a").cx;
    const int b = skinui::measure_line(font_, L"下").cx;
    EXPECT_GT(a, 0);
    EXPECT_EQ(skinui::measure_line(font_, L"a下").cx, a + b);
    EXPECT_EQ(skinui::measure_line(font_, L"a\n下").cx, a + b) << "a line feed has no width";
}

TEST_F(render_text_fixture, horizontal_and_vertical_alignment_move_the_ink) {
    const std::wstring text = L"自动更新";
    const rect box{10, 10, 190, 90};
    const int spare_x = box.width() - skinui::measure_line(font_, text).cx;
    const int spare_y = box.height() - font_->height;
    const rect base = ink_bounds(draw(text, DT_SINGLELINE | DT_LEFT, box));
    ASSERT_FALSE(base.empty());
    struct case_t {
        unsigned style;
        int dx, dy;
    } cases[] = {
        {DT_SINGLELINE | DT_CENTER, spare_x / 2, 0},
        {DT_SINGLELINE | DT_RIGHT, spare_x, 0},
        {DT_SINGLELINE | DT_VCENTER, 0, spare_y / 2},
        {DT_SINGLELINE | DT_BOTTOM | DT_RIGHT, spare_x, spare_y},
        {DT_VCENTER, 0, 0},  // vertical alignment needs a single line
    };
    for (const case_t& c : cases) {
        const rect got = ink_bounds(draw(text, c.style, box));
        const rect expected{base.left + c.dx, base.top + c.dy, base.right + c.dx, base.bottom + c.dy};
        EXPECT_EQ(got, expected) << "style " << std::hex << c.style << ": got " << show(got) << " expected "
                                 << show(expected);
    }
}

// Which lines of height line_height (from top) hold ink.
std::vector<int> inked_lines(const surface& s, int top, int line_height, int lines) {
    std::vector<int> inked;
    for (int i = 0; i < lines; ++i) {
        rect band{0, top + i * line_height, s.width, std::min(s.height, top + (i + 1) * line_height)};
        if (band.empty()) break;
        if (count_pixels(s, BLACK, band) < band.width() * band.height()) inked.push_back(i);
    }
    return inked;
}

TEST_F(render_text_fixture, word_break_wraps_at_blanks_and_between_cjk_characters) {
    const int h = font_->height;
    const int three_cjk = skinui::measure_line(font_, L"点击下").cx;
    const int word = skinui::measure_line(font_, L"three").cx;
    struct case_t {
        std::wstring text;
        unsigned style;
        int width;
        std::vector<int> lines;
    } cases[] = {
        {L"one two three", DT_WORDBREAK, word + 2, {0, 1, 2}},
        {L"one two three", DT_SINGLELINE | DT_WORDBREAK, word + 2, {0}},  // single line wins
        {L"点击下载点击下载", DT_WORDBREAK, three_cjk + 1, {0, 1, 2}},
        {L"点击下载点击下载", DT_LEFT, three_cjk + 1, {0}},                       // no break without DT_WORDBREAK
        {L"ab\ncd", DT_LEFT, 150, {0, 1}},                                        // line feeds break multi-line text
        {L"abcdefghijklmnopqrstuvwxyz", DT_WORDBREAK, word, {0, 1, 2, 3, 4, 5}},  // a long word breaks
    };
    for (const case_t& c : cases) {
        const rect box{0, 0, c.width, 100};
        const surface s = draw(c.text, c.style, box);
        std::vector<int> got = inked_lines(s, 0, h, 6);
        if (c.lines.size() < 6)
            EXPECT_EQ(got, c.lines) << std::string(c.text.begin(), c.text.end());
        else
            EXPECT_GE(got.size(), 3u) << "the long word goes on over several lines";
        EXPECT_LE(ink_bounds(s).right, c.width + 1) << "ink stays in the rectangle";
    }
}

TEST_F(render_text_fixture, text_is_clipped_to_its_rectangle_and_the_paint_rectangle) {
    const rect box{20, 20, 60, 30};  // narrower and lower than the text
    const surface boxed = draw(L"很抱歉，上号器版本过低", DT_SINGLELINE | DT_VCENTER, box);
    const rect ink = ink_bounds(boxed);
    EXPECT_GE(ink.left, box.left);
    EXPECT_GE(ink.top, box.top);
    EXPECT_LE(ink.right, box.right);
    EXPECT_LE(ink.bottom, box.bottom);
    EXPECT_FALSE(ink.empty());

    const rect clip{30, 0, 40, 100};
    const rect clipped = ink_bounds(draw(L"很抱歉，上号器版本过低", DT_SINGLELINE, {0, 0, 200, 40}, 200, 100, clip));
    EXPECT_GE(clipped.left, clip.left);
    EXPECT_LE(clipped.right, clip.right);
}

TEST_F(render_text_fixture, colour_ignores_alpha_and_full_coverage_is_exact) {
    surface s = render_test::filled(100, 40, BLACK);
    skinui::paint_target target{s, s.bounds()};
    skinui::draw_plain_text(target, font_, s.bounds(), L"一二三", 0x0014B9D6u, DT_SINGLELINE);
    EXPECT_GT(count_pixels(s, 0xFF14B9D6u, s.bounds()), 0) << "fully covered pixels take the colour exactly";
    for (pixel p : s.pixels) {
        // Anti-aliased edges lie between black and the colour, channel by channel.
        ASSERT_LE((p >> 16) & 0xFF, 0x14u) << hex(p);
        ASSERT_LE((p >> 8) & 0xFF, 0xB9u) << hex(p);
        ASSERT_LE(p & 0xFF, 0xD6u) << hex(p);
        ASSERT_EQ(p >> 24, 0xFFu) << hex(p);
    }
}

TEST_F(render_text_fixture, end_ellipsis_replaces_the_tail_that_does_not_fit) {
    const std::wstring text = L"abcdefghijklmnopqrstuvwxyz";
    const rect box{0, 0, 60, 30};
    // The longest head that fits together with "...".
    std::wstring head;
    while (skinui::measure_line(font_, text.substr(0, head.size() + 1) + L"...").cx <= box.width()) {
        head = text.substr(0, head.size() + 1);
    }
    ASSERT_LT(head.size(), text.size());
    const surface cut = draw(text, DT_SINGLELINE | DT_END_ELLIPSIS, box);
    const surface expected = draw(head + L"...", DT_SINGLELINE, box);
    EXPECT_TRUE(cut.pixels == expected.pixels)
        << "expected the drawing of \"" << std::string(head.begin(), head.end()) << "...\"";
    const surface short_text = draw(L"abc", DT_SINGLELINE | DT_END_ELLIPSIS, box);
    EXPECT_TRUE(short_text.pixels == draw(L"abc", DT_SINGLELINE, box).pixels) << "text that fits is untouched";
}

class render_markup_fixture : public render_text_fixture {
protected:
    static constexpr pixel LINK = 0xFF14B9D6u;
    static constexpr pixel HOVER = 0xFFD3215Fu;
    static constexpr pixel TEXT = 0xFFB3BACAu;

    surface draw_markup(const std::wstring& text, skinui::link_slots& links, const rect& box = {2, 2, 198, 40},
                        unsigned style = DT_WORDBREAK) {
        surface s = render_test::filled(200, 60, BLACK);
        skinui::paint_target target{s, s.bounds()};
        skinui::markup_context context{fonts_, 0, TEXT, LINK, HOVER};
        skinui::draw_markup(target, context, box, text, style, links);
        return s;
    }

    skinui::link_slots slots(int max, int hovered = -1) {
        skinui::link_slots links;
        links.rects = rects_;
        links.texts = texts_;
        links.max_slots = max;
        links.hovered = hovered;
        return links;
    }

    rect rects_[8];
    std::wstring texts_[8];
};

TEST_F(render_markup_fixture, link_is_drawn_in_the_link_colour_underlined_and_recorded) {
    skinui::link_slots links = slots(8);
    const surface s = draw_markup(L"{a}点击下载{/a}", links);
    ASSERT_EQ(links.count, 1);
    const rect r = rects_[0];
    EXPECT_EQ(r.left, 2);
    EXPECT_EQ(r.top, 2);
    EXPECT_EQ(r.width(), skinui::measure_line(font_, L"点击下载").cx);
    EXPECT_EQ(r.height(), font_->height);
    EXPECT_EQ(texts_[0], L"");
    EXPECT_GT(count_pixels(s, LINK, r), 0) << "link colour inside " << show(r);
    EXPECT_EQ(count_pixels(s, HOVER, s.bounds()), 0);
    const rect ink = ink_bounds(s);
    EXPECT_GE(ink.left, r.left);
    EXPECT_LE(ink.right, r.right);
    // The underline: one row below the baseline in the link colour nearly all across.
    int longest = 0;
    for (int y = r.top + font_->ascent; y < r.bottom; ++y)
        longest = std::max(longest, count_pixels(s, LINK, {r.left, y, r.right, y + 1}));
    EXPECT_GE(longest, r.width() - 1) << "underline row";
}

TEST_F(render_markup_fixture, hovered_link_takes_the_hover_colour) {
    skinui::link_slots links = slots(8, 0);
    const surface s = draw_markup(L"{a}点击下载{/a}", links);
    ASSERT_EQ(links.count, 1);
    EXPECT_GT(count_pixels(s, HOVER, rects_[0]), 0);
    EXPECT_EQ(count_pixels(s, LINK, s.bounds()), 0);
}

TEST_F(render_markup_fixture, links_among_text_record_their_own_place_and_argument) {
    skinui::link_slots links = slots(8, 1);
    const surface s = draw_markup(L"如{a one}下载{/a}和{a two}更新{/a}吧", links);
    ASSERT_EQ(links.count, 2);
    const int ru = skinui::measure_line(font_, L"如").cx;
    const int link = skinui::measure_line(font_, L"下载").cx;
    const int he = skinui::measure_line(font_, L"和").cx;
    EXPECT_EQ(rects_[0], (rect{2 + ru, 2, 2 + ru + link, 2 + font_->height})) << show(rects_[0]);
    EXPECT_EQ(rects_[1].left, rects_[0].right + he);
    EXPECT_EQ(texts_[0], L"one");
    EXPECT_EQ(texts_[1], L"two");
    EXPECT_GT(count_pixels(s, LINK, rects_[0]), 0);
    EXPECT_GT(count_pixels(s, HOVER, rects_[1]), 0);
    EXPECT_EQ(count_pixels(s, HOVER, rects_[0]), 0);
    EXPECT_GT(count_pixels(s, TEXT, {2, 2, 2 + ru, 2 + font_->height}), 0) << "plain text keeps its colour";
}

TEST_F(render_markup_fixture, slots_are_limited_but_every_link_is_drawn) {
    skinui::link_slots links = slots(2);
    const surface s = draw_markup(L"{a}甲{/a}{a}乙{/a}{a}丙{/a}", links);
    EXPECT_EQ(links.count, 2);
    const int two = skinui::measure_line(font_, L"甲乙").cx;
    EXPECT_GT(count_pixels(s, LINK, {2 + two, 2, 198, 40}), 0) << "the third link is drawn too";

    skinui::link_slots none = slots(0);
    draw_markup(L"{a}甲{/a}", none);
    EXPECT_EQ(none.count, 0);
}

TEST_F(render_markup_fixture, other_tags_are_skipped_and_non_tags_drawn_literally) {
    struct case_t {
        std::wstring markup, plain;
    } cases[] = {
        {L"{b}粗{/b}体", L"粗体"},
        {L"<i>斜</i>", L"斜"},
        {L"{c #ff0000}色{/c}", L"色"},
        {L"{ab}", L"{ab}"},      // two letters: no tag
        {L"{A}", L"{A}"},        // upper case: no tag
        {L"{a", L"{a"},          // never closed
        {L"x{/a}y", L"xy"},      // a stray end of link
        {L"& 100%", L"& 100%"},  // "&" is literal
    };
    for (const case_t& c : cases) {
        skinui::link_slots links = slots(8);
        const surface got = draw_markup(c.markup, links, {2, 2, 198, 40}, DT_SINGLELINE);
        surface expected = render_test::filled(200, 60, BLACK);
        skinui::paint_target target{expected, expected.bounds()};
        skinui::draw_plain_text(target, font_, {2, 2, 198, 40}, c.plain, TEXT, DT_SINGLELINE);
        EXPECT_TRUE(got.pixels == expected.pixels) << std::string(c.markup.begin(), c.markup.end()) << " differs";
        EXPECT_EQ(links.count, 0);
    }
}

TEST_F(render_markup_fixture, wrapped_link_gets_a_slot_per_line) {
    const int w = skinui::measure_line(font_, L"点击").cx;
    skinui::link_slots links = slots(8, 1);
    const surface s = draw_markup(L"{a}点击下载{/a}", links, {0, 0, w + 1, 60});
    ASSERT_EQ(links.count, 2);
    EXPECT_EQ(rects_[1].top, rects_[0].bottom);
    EXPECT_GT(count_pixels(s, HOVER, rects_[0]), 0) << "hovering one piece lights the whole link";
}

}  // namespace
