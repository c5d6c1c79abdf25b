// The resource table. It names the generated archive directly, so that a
// static library never drops the archive's object file.
#include "skin/resource_table.h"

#include <cstddef>

namespace skin_data {
extern const std::uint8_t SKIN_ARCHIVE[];
extern const std::size_t SKIN_ARCHIVE_SIZE;
}  // namespace skin_data

namespace {

struct resource_entry {
    std::string_view type;
    int id;
    const std::uint8_t* data;
    const std::size_t* size;
};

const resource_entry RESOURCES[] = {
    {SKIN_RESOURCE_TYPE, SKIN_RESOURCE_ID, skin_data::SKIN_ARCHIVE, &skin_data::SKIN_ARCHIVE_SIZE},
};

}  // namespace

std::span<const std::uint8_t> find_resource(std::string_view type, int id) {
    for (const resource_entry& entry : RESOURCES) {
        if (entry.type == type && entry.id == id) return {entry.data, *entry.size};
    }
    return {};
}
