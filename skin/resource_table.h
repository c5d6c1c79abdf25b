// The resources linked into the executable, found by type and id as the
// program would find them among its executable resources.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The skin archive: type "ZIPRES", id 200.
inline constexpr std::string_view SKIN_RESOURCE_TYPE = "ZIPRES";
inline constexpr int SKIN_RESOURCE_ID = 200;

// The bytes of the resource, or an empty span when there is none.
std::span<const std::uint8_t> find_resource(std::string_view type, int id);
