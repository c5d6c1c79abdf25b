// Writes a painted toolkit surface (premultiplied BGRA) as an RGBA PNG.
#pragma once

#include <string>

#include "toolkit/surface.h"

namespace render_layout {

// False when the file cannot be written.
bool write_surface_png(const skinui::surface& image, const std::string& path);

}  // namespace render_layout
