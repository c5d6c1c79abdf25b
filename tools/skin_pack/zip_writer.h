// Writes a flat zip archive in memory: deflated members with their local
// headers, the central directory and the end record, no archive comment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skin_pack {

class zip_writer {
public:
    // Adds a member compressed with raw deflate (method 8). The name is
    // stored as given (code page 936 bytes), without the UTF-8 name flag.
    bool add(const std::string& stored_name, const std::vector<std::uint8_t>& content);
    // The central directory and end record follow the members.
    std::vector<std::uint8_t> finish();

private:
    struct entry {
        std::string name;
        std::uint32_t crc32, compressed_size, size, offset;
    };
    std::vector<std::uint8_t> bytes_;
    std::vector<entry> entries_;
};

}  // namespace skin_pack
