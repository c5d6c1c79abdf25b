// Drawing a control's image slot: the first drawing parses the attribute
// string and loads the image; every drawing places the source part of the
// image on the control (or its dest) and scales or blends it there.
#pragma once

#include "toolkit/render_engine.h"

namespace skinui {

class image_cache;

// Draws the slot into control_rect, clipped to target.clip. False when
// nothing was drawn (no image, or the destination misses the control or
// the paint rectangle).
bool draw_image_slot(paint_target& target, image_cache& images, const rect& control_rect, draw_info& info);

// Draws the source part of an image onto dest, in nine parts when corner
// has a non-zero inset (corners unscaled, edges and centre stretched, the
// centre left out with hole).
void draw_image_part(paint_target& target, const image_info& image, const rect& dest, const rect& source,
                     const rect& corner, std::uint8_t fade, bool hole);

}  // namespace skinui
