// Paints the ten images of the skin (a calm dark theme) and writes them as
// 8-bit RGBA PNG files into the folder given on the command line:
//   skin_art skin/
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/skin_art/canvas.h"
#include "tools/skin_art/caption_font.h"

namespace skin_art {
namespace {

const std::uint32_t TEXT = 0xb3baca;    // the layouts' text colour
const std::uint32_t ACCENT = 0x14b9d6;  // the layouts' link colour
const std::uint32_t BASE_TOP = 0x1d2332;
const std::uint32_t BASE_BOTTOM = 0x161a25;
const std::uint32_t BAND = 0x232b3c;
const std::uint32_t EDGE = 0x323b50;
const int CAPTION_HEIGHT = 28;

round_box whole(const canvas& c, float inset, float radius) {
    return {inset, inset, c.width() - inset, c.height() - inset, radius};
}

// A window background: a vertical gradient, the caption band with a hairline
// under it, an accent glint along the top, a soft vignette and a 1 px edge.
void paint_background(canvas& c) {
    float h = static_cast<float>(c.height()), w = static_cast<float>(c.width());
    c.fill_box(whole(c, 0, 0), [&](int, int y) { return mix(hex(BASE_TOP), hex(BASE_BOTTOM), y / h); });
    c.fill_box({0, 0, w, CAPTION_HEIGHT, 0}, [&](int, int y) { return hex(BAND, 0.9f - 0.5f * y / CAPTION_HEIGHT); });
    c.fill_box({1, CAPTION_HEIGHT - 1.0f, w - 1, CAPTION_HEIGHT, 0}, [&](int x, int) {
        float t = std::abs(x / w - 0.5f) * 2;  // fades toward both sides
        return hex(EDGE, 0.9f - 0.6f * t);
    });
    c.fill_box({1, 1, w - 1, 3, 0}, [&](int x, int) { return hex(ACCENT, 0.55f * (1 - x / w)); });
    // Vignette: the last few pixels toward every side get slightly darker.
    c.fill_box(whole(c, 0, 0), [&](int x, int y) {
        float d = std::fmin(std::fmin(x, w - 1 - x), std::fmin(y, h - 1 - y));
        return hex(0x0b0e15, d < 10 ? 0.22f * (1 - d / 10) : 0);
    });
    c.stroke_box(whole(c, 0, 0), 1, hex(EDGE));
}

void paint_bg1(canvas& c) {
    paint_background(c);
}

// The progress window also gets a faint glow behind the status line and bar.
void paint_bg2(canvas& c) {
    paint_background(c);
    float cx = c.width() / 2.0f, cy = 128;
    c.fill_box({1, CAPTION_HEIGHT, c.width() - 1.0f, c.height() - 1.0f, 0}, [&](int x, int y) {
        float dx = (x + 0.5f - cx) / 260, dy = (y + 0.5f - cy) / 90;
        float r = std::sqrt(dx * dx + dy * dy);
        return hex(ACCENT, r < 1 ? 0.06f * (1 - r) * (1 - r) : 0);
    });
    c.fill_box({40, 189, c.width() - 40.0f, 190, 0}, [&](int x, int) {
        float t = std::abs(x / static_cast<float>(c.width()) - 0.5f) * 2;
        return hex(EDGE, 0.7f * (1 - t));
    });
}

void paint_button(canvas& c, caption_font& font, const std::u32string& caption, bool primary) {
    round_box box = whole(c, 0.5f, 5);
    float h = static_cast<float>(c.height());
    if (primary) {
        c.fill_box(box, [&](int, int y) { return mix(hex(0x1cbfdc), hex(0x0f97b4), y / h); });
        c.fill_box({1.5f, 1.5f, c.width() - 1.5f, 2.5f, 0}, [&](int, int) { return hex(0xffffff, 0.22f); });
        c.stroke_box(box, 1, hex(0x0b7f99, 0.9f));
        font.draw_centred(c, caption, 14, box, hex(0xffffff));
    } else {
        c.fill_box(box, [&](int, int y) { return mix(hex(0x2b3345), hex(0x232a3a), y / h); });
        c.stroke_box(box, 1, hex(0x44506a));
        font.draw_centred(c, caption, 14, box, hex(TEXT));
    }
}

void paint_close(canvas& c) {
    c.line(3.5f, 3.5f, 10.5f, 10.5f, 1.6f, hex(TEXT));
    c.line(10.5f, 3.5f, 3.5f, 10.5f, 1.6f, hex(TEXT));
}

void paint_minimise(canvas& c) {
    c.line(3, 7.5f, 11, 7.5f, 1.6f, hex(TEXT));
}

// Exact distance to a triangle's outline, negative inside.
float triangle_distance(const float (&p)[6], float x, float y) {
    float best = 1e9f;
    bool inside = true;
    for (int i = 0; i < 3; ++i) {
        float x0 = p[2 * i], y0 = p[2 * i + 1], x1 = p[(2 * i + 2) % 6], y1 = p[(2 * i + 3) % 6];
        float dx = x1 - x0, dy = y1 - y0;
        float t = std::fmax(0, std::fmin(1, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)));
        best = std::fmin(best, std::hypot(x - (x0 + t * dx), y - (y0 + t * dy)));
        if (dx * (y - y0) - dy * (x - x0) < 0) inside = false;
    }
    return inside ? -best : best;
}

// An amber warning triangle with rounded corners and a dark "!".
void paint_warning(canvas& c) {
    const float corners[6] = {8, 2.6f, 14.2f, 13.6f, 1.8f, 13.6f};  // clockwise on screen
    const float round = 1.2f;
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < c.width(); ++x) {
            float d = triangle_distance(corners, x + 0.5f, y + 0.5f) - round;
            float cover = coverage_from_distance(d);
            if (cover > 0) c.blend(x, y, mix(hex(0xf6b84a), hex(0xe8962a), y / 16.0f), cover);
        }
    }
    c.line(8, 6.2f, 8, 9.6f, 1.7f, hex(0x1d2332));
    c.line(8, 12.0f, 8, 12.0f, 1.9f, hex(0x1d2332));
}

// Unused by the layouts; a minimise glyph on a faint rounded plate.
void paint_min(canvas& c) {
    c.fill_box(whole(c, 0.5f, 3), [](int, int) { return hex(0xffffff, 0.08f); });
    c.line(4, 8.5f, 12, 8.5f, 1.6f, hex(TEXT));
}

void paint_track(canvas& c) {
    round_box box = whole(c, 0.5f, (c.height() - 1) / 2.0f);
    c.fill_box(box, [](int, int y) { return mix(hex(0x0d1119), hex(0x141924), y / 14.0f); });
    c.stroke_box(box, 1, hex(0x2b3446));
}

void paint_fill(canvas& c) {
    round_box box = whole(c, 0, c.height() / 2.0f);
    float w = static_cast<float>(c.width());
    c.fill_box(box, [&](int x, int) {
        float t = x / w;
        return t < 0.5f ? mix(hex(0x0c86a6), hex(ACCENT), t * 2) : mix(hex(ACCENT), hex(0x4fd6ec), t * 2 - 1);
    });
    c.fill_box({3, 1.5f, w - 3, 5, 1.75f}, [](int, int) { return hex(0xffffff, 0.22f); });
}

struct image_job {
    const char* name;
    int width, height;
    std::function<void(canvas&)> paint;
};

}  // namespace
}  // namespace skin_art

int main(int argc, char** argv) {
    using namespace skin_art;
    if (argc != 2) {
        std::fprintf(stderr, "usage: skin_art OUTPUT_FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    if (!folder.empty() && folder.back() != '/') folder += '/';
    caption_font font;
    if (!font.ok()) {
        std::fprintf(stderr, "skin_art: %s\n", font.error().c_str());
        return 1;
    }
    const std::vector<image_job> jobs = {
        {"感叹号.png", 16, 16, paint_warning},
        {"关闭.png", 14, 14, paint_close},
        {"取消.png", 96, 32, [&](canvas& c) { paint_button(c, font, U"取消", false); }},
        {"确认.png", 96, 32, [&](canvas& c) { paint_button(c, font, U"确认", true); }},
        {"最小化.png", 14, 14, paint_minimise},
        {"bg1.png", 412, 200, paint_bg1},
        {"bg2.png", 586, 280, paint_bg2},
        {"Min.png", 16, 16, paint_min},
        {"progbg.png", 498, 14, paint_track},
        {"progfg.png", 496, 12, paint_fill},
    };
    for (const image_job& job : jobs) {
        canvas c(job.width, job.height);
        job.paint(c);
        if (!c.write_png(folder + job.name)) {
            std::fprintf(stderr, "skin_art: cannot write %s%s\n", folder.c_str(), job.name);
            return 1;
        }
    }
    return 0;
}
