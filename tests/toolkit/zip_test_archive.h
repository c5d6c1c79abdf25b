// Builds small zip archives for the reader's tests, including broken ones:
// every field that the reader checks can be set to a wrong value.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zip_test {

struct member {
    std::string name;  // stored bytes
    std::vector<std::uint8_t> content;
    std::uint16_t method = 8;  // 0 stored, 8 deflate
    std::uint16_t flags = 0;
    // Overrides of what the headers declare (-1: the true value).
    long long declared_size = -1;
    long long declared_crc = -1;
    bool corrupt_data = false;  // flips bits in the compressed bytes
};

inline void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline std::vector<std::uint8_t> deflate_raw(const std::vector<std::uint8_t>& in) {
    z_stream s{};
    deflateInit2(&s, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> out(deflateBound(&s, static_cast<uLong>(in.size())) + 16);
    Bytef none = 0;
    s.next_in = in.empty() ? &none : const_cast<Bytef*>(in.data());
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

inline std::vector<std::uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

// A whole archive: local headers with data, central directory, end record.
inline std::vector<std::uint8_t> build(const std::vector<member>& members) {
    std::vector<std::uint8_t> out, directory;
    for (const member& m : members) {
        std::vector<std::uint8_t> data = m.method == 8 ? deflate_raw(m.content) : m.content;
        if (m.corrupt_data)
            for (std::size_t i = 0; i < data.size(); i += 2) data[i] ^= 0x5A;
        auto crc = m.declared_crc >= 0
                       ? static_cast<std::uint32_t>(m.declared_crc)
                       : static_cast<std::uint32_t>(crc32(0, m.content.data(), static_cast<uInt>(m.content.size())));
        auto size = m.declared_size >= 0 ? static_cast<std::uint32_t>(m.declared_size)
                                         : static_cast<std::uint32_t>(m.content.size());
        auto offset = static_cast<std::uint32_t>(out.size());
        auto common = [&](std::vector<std::uint8_t>& o) {
            put16(o, 20);
            put16(o, m.flags);
            put16(o, m.method);
            put32(o, 0);
            put32(o, crc);
            put32(o, static_cast<std::uint32_t>(data.size()));
            put32(o, size);
            put16(o, static_cast<std::uint32_t>(m.name.size()));
            put16(o, 0);
        };
        put32(out, 0x04034b50);
        common(out);
        out.insert(out.end(), m.name.begin(), m.name.end());
        out.insert(out.end(), data.begin(), data.end());
        put32(directory, 0x02014b50);
        put16(directory, 20);
        common(directory);
        put16(directory, 0);  // file comment length
        put16(directory, 0);  // disk number
        put16(directory, 0);  // internal attributes
        put32(directory, 0);  // external attributes
        put32(directory, offset);
        directory.insert(directory.end(), m.name.begin(), m.name.end());
    }
    auto directory_offset = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), directory.begin(), directory.end());
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<std::uint32_t>(members.size()));
    put16(out, static_cast<std::uint32_t>(members.size()));
    put32(out, static_cast<std::uint32_t>(directory.size()));
    put32(out, directory_offset);
    put16(out, 0);
    return out;
}

}  // namespace zip_test
