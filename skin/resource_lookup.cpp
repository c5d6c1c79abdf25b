// The resource table where the skin archive is a real executable resource
// (the Windows build compiles it in with the resource compiler).
#include "platform/executable_resource.h"
#include "skin/resource_table.h"

std::span<const std::uint8_t> find_resource(std::string_view type, int id) {
    return platform::executable_resource(type, id);
}
