// Loading of a window's images: skin archive, resource path or plain path,
// decoded with stb_image into premultiplied BGRA.
#include "toolkit/image_cache.h"

#include <fstream>
#include <iterator>

// The decoder is compiled here; its own warnings are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#include <stb_image.h>
#pragma GCC diagnostic pop

#include "platform/debug_output.h"
#include "platform/text.h"
#include "toolkit/blend.h"
#include "toolkit/skin_resources.h"

namespace skinui {
namespace {

// Bounds that keep a hostile image header from asking for absurd memory.
inline constexpr int MAX_IMAGE_SIDE = 16384;
inline constexpr long long MAX_IMAGE_PIXELS = 32LL * 1024 * 1024;
inline constexpr std::streamoff MAX_IMAGE_FILE = 64LL * 1024 * 1024;

void log_line(const std::string& text) {
    platform::debug_output("[TamsaUpdate]: " + text + "\n");
}

bool read_plain_file(const std::wstring& name, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(platform::wide_to_narrow(name), std::ios::binary | std::ios::ate);
    if (!in) return false;
    std::streamoff length = in.tellg();
    if (length <= 0 || length > MAX_IMAGE_FILE) return false;
    bytes.resize(static_cast<std::size_t>(length));
    in.seekg(0);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), length));
}

}  // namespace

bool decode_image(const std::vector<std::uint8_t>& bytes, image_info& out) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int length = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, length, &width, &height, &channels)) return false;
    if (width <= 0 || height <= 0 || width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE ||
        static_cast<long long>(width) * height > MAX_IMAGE_PIXELS) {
        return false;
    }
    stbi_uc* rgba = stbi_load_from_memory(data, length, &width, &height, &channels, 4);
    if (rgba == nullptr) return false;
    out.bitmap.resize(width, height);
    out.has_alpha = false;
    const stbi_uc* p = rgba;
    for (pixel& px : out.bitmap.pixels) {
        px = premultiply(p[0], p[1], p[2], p[3]);
        out.has_alpha |= p[3] != 255;
        p += 4;
    }
    stbi_image_free(rgba);
    return true;
}

const image_info* image_cache::load(const std::wstring& name) {
    if (name.empty()) return nullptr;
    if (auto it = images_.find(name); it != images_.end()) return it->second.get();
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!load_skin_file(name, bytes, error) && !read_plain_file(name, bytes)) {
        log_line("image \"" + platform::wide_to_narrow(name) + "\" not found: " + error);
        return nullptr;
    }
    auto image = std::make_unique<image_info>();
    if (!decode_image(bytes, *image)) {
        const char* reason = stbi_failure_reason();
        log_line("image \"" + platform::wide_to_narrow(name) +
                 "\" could not be decoded: " + (reason ? reason : "unsupported size"));
        return nullptr;
    }
    return images_.emplace(name, std::move(image)).first->second.get();
}

}  // namespace skinui
