// Read-only access to a zip archive held in memory: the central directory,
// member lookup by name and extraction of stored and deflated members.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace skinui {

struct zip_member {
    std::string name;  // the stored name bytes (code page 936 in the skin archive)
    std::uint16_t flags = 0;
    std::uint16_t method = 0;  // 0 stored, 8 deflate
    std::uint32_t crc32 = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t size = 0;  // uncompressed, as the directory declares it
    std::uint32_t local_header_offset = 0;
};

enum class zip_extract_result { ok, too_large, failed };

class zip_archive {
public:
    // Reads the central directory. False when the bytes are no zip archive or
    // the directory does not fit inside them; the archive is then empty.
    bool open(std::span<const std::uint8_t> bytes);
    bool is_open() const { return open_; }
    const std::vector<zip_member>& members() const { return members_; }

    // Index of the first member whose stored name equals name, ignoring the
    // case of ASCII letters; -1 when there is none.
    int find(std::string_view name) const;

    // Extracts a member, checking its sizes and CRC-32. Members declaring more
    // than max_size bytes are refused before anything is allocated.
    zip_extract_result extract(int index, std::vector<std::uint8_t>& out, std::size_t max_size) const;

private:
    bool read_directory(std::size_t end_record);
    bool member_data(const zip_member& member, std::span<const std::uint8_t>& data) const;

    std::span<const std::uint8_t> bytes_;
    std::vector<zip_member> members_;
    bool open_ = false;
};

// Compares stored name bytes with a wanted name: ASCII a-z match either case;
// the two bytes of a double-byte code page 936 character match exactly, so a
// trail byte that happens to be an ASCII letter is never folded.
bool zip_names_match(std::string_view stored, std::string_view wanted);

// The stored form of a wide member name: backslashes become slashes (before
// conversion, so that no trail byte is touched), then code page 936. Empty
// for names of 256 or more characters, which are never found.
std::string zip_lookup_name(std::wstring_view name);

}  // namespace skinui
