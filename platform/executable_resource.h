// Resources compiled into the executable (the Windows backend's FindResourceW
// lookup). On Linux the skin's resource table links the bytes in instead.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace platform {

// The bytes of the resource of a named type and an integer id, valid for the
// process's life; empty when the executable has none.
std::span<const std::uint8_t> executable_resource(std::string_view type, int id);

}  // namespace platform
