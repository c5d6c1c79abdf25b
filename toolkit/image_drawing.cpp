// Image slots of controls drawn onto the paint surface.
#include "toolkit/image_drawing.h"

#include <algorithm>

#include "toolkit/blend.h"
#include "toolkit/image_attribute.h"
#include "toolkit/image_cache.h"

namespace skinui {
namespace {

bool all_zero(const rect& r) {
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

// The source part in image pixels: all 0 is the whole image; right and
// bottom are cut to the image's size at every drawing.
rect source_part(const draw_info& info, const image_info& image) {
    if (all_zero(info.source)) return image.bitmap.bounds();
    rect source = info.source;
    source.left = std::max(0, source.left);
    source.top = std::max(0, source.top);
    source.right = std::min(source.right, image.bitmap.width);
    source.bottom = std::min(source.bottom, image.bitmap.height);
    return source;
}

// The control's rectangle, or the dest offsets from its top left with right
// and bottom cut to the control's.
rect destination(const draw_info& info, const rect& control_rect) {
    if (all_zero(info.dest)) return control_rect;
    rect dest{control_rect.left + info.dest.left, control_rect.top + info.dest.top, control_rect.left + info.dest.right,
              control_rect.top + info.dest.bottom};
    dest.right = std::min(dest.right, control_rect.right);
    dest.bottom = std::min(dest.bottom, control_rect.bottom);
    return dest;
}

// Splits a span into its start inset, middle and end inset, keeping the
// insets inside the span.
struct span3 {
    int edges[4];
};

span3 split(int from, int to, int start_inset, int end_inset) {
    const int length = to - from;
    const int start = std::clamp(start_inset, 0, length);
    const int end = std::clamp(end_inset, 0, length - start);
    return {{from, from + start, to - end, to}};
}

}  // namespace

void draw_image_part(paint_target& target, const image_info& image, const rect& dest, const rect& source,
                     const rect& corner, std::uint8_t fade, bool hole) {
    const bool blend = image.has_alpha || fade < 255;
    if (all_zero(corner)) {
        stretch_image(target.bits, dest, image.bitmap, source, target.clip, blend, fade);
        return;
    }
    const span3 sx = split(source.left, source.right, corner.left, corner.right);
    const span3 sy = split(source.top, source.bottom, corner.top, corner.bottom);
    const span3 dx = split(dest.left, dest.right, corner.left, corner.right);
    const span3 dy = split(dest.top, dest.bottom, corner.top, corner.bottom);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (hole && row == 1 && col == 1) continue;
            const rect from{sx.edges[col], sy.edges[row], sx.edges[col + 1], sy.edges[row + 1]};
            const rect to{dx.edges[col], dy.edges[row], dx.edges[col + 1], dy.edges[row + 1]};
            if (from.empty() || to.empty()) continue;
            stretch_image(target.bits, to, image.bitmap, from, target.clip, blend, fade);
        }
    }
}

bool draw_image_slot(paint_target& target, image_cache& images, const rect& control_rect, draw_info& info) {
    if (info.image == nullptr) {
        // Parsed and loaded once; a failed load waits for a new string.
        if (info.parsed) return false;
        info.parsed = true;
        if (info.attribute.empty()) return false;
        parse_image_attribute(info.attribute, info);
        info.image = images.load(info.image_name);
        if (info.image == nullptr) return false;
    }
    const rect source = source_part(info, *info.image);
    const rect dest = destination(info, control_rect);
    if (source.empty() || dest.empty()) return false;
    if (!intersects(dest, control_rect) || !intersects(dest, target.clip)) return false;
    paint_target clipped{target.bits, intersect(target.clip, control_rect)};
    draw_image_part(clipped, *info.image, dest, source, info.corner, info.fade, info.hole);
    return true;
}

}  // namespace skinui
