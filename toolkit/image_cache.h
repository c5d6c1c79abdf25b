// The images a window has loaded, by name: decoded once, kept for the
// window's lifetime.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/render_engine.h"

namespace skinui {

class image_cache {
public:
    // The image of that name: from the skin (archive or resource path),
    // failing that from the name as a file path. Null when it cannot be
    // found or decoded (failures are not kept, so a later call tries again).
    const image_info* load(const std::wstring& name);
    bool contains(const std::wstring& name) const { return images_.count(name) != 0; }
    void clear() { images_.clear(); }

private:
    std::map<std::wstring, std::unique_ptr<image_info>> images_;
};

// Decodes PNG (or any format stb_image knows) bytes into premultiplied BGRA.
// False for bytes that are not an image.
bool decode_image(const std::vector<std::uint8_t>& bytes, image_info& out);

}  // namespace skinui
