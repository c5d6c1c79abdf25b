// The zip archive writer of the skin packer.
#include "tools/skin_pack/zip_writer.h"

#include <zlib.h>

namespace skin_pack {

namespace {

// A fixed time stamp (2018-01-01 00:00, DOS format) keeps the archive, and
// so the build, the same from run to run.
const std::uint16_t DOS_TIME = 0;
const std::uint16_t DOS_DATE = ((2018 - 1980) << 9) | (1 << 5) | 1;
const std::uint16_t VERSION = 20;  // 2.0: deflate
const std::uint16_t METHOD_DEFLATE = 8;

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

bool deflate_raw(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    out.resize(deflateBound(&stream, static_cast<uLong>(in.size())) + 16);
    Bytef none = 0;
    stream.next_in = in.empty() ? &none : const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    return deflateEnd(&stream) == Z_OK && status == Z_STREAM_END;
}

// The fields that the local header and the directory entry share.
void put_common(std::vector<std::uint8_t>& out, std::uint32_t crc, std::uint32_t compressed, std::uint32_t size,
                std::size_t name_length) {
    put16(out, VERSION);  // version needed to extract
    put16(out, 0);        // flags: no UTF-8 name, no data descriptor
    put16(out, METHOD_DEFLATE);
    put16(out, DOS_TIME);
    put16(out, DOS_DATE);
    put32(out, crc);
    put32(out, compressed);
    put32(out, size);
    put16(out, static_cast<std::uint32_t>(name_length));
    put16(out, 0);  // extra field length
}

}  // namespace

bool zip_writer::add(const std::string& stored_name, const std::vector<std::uint8_t>& content) {
    if (stored_name.empty() || stored_name.size() > 0xFFFF || content.size() > 0x7FFFFFFF) return false;
    std::vector<std::uint8_t> packed;
    if (!deflate_raw(content, packed)) return false;
    entry e{stored_name, static_cast<std::uint32_t>(::crc32(0L, content.data(), static_cast<uInt>(content.size()))),
            static_cast<std::uint32_t>(packed.size()), static_cast<std::uint32_t>(content.size()),
            static_cast<std::uint32_t>(bytes_.size())};
    put32(bytes_, 0x04034b50);
    put_common(bytes_, e.crc32, e.compressed_size, e.size, e.name.size());
    bytes_.insert(bytes_.end(), e.name.begin(), e.name.end());
    bytes_.insert(bytes_.end(), packed.begin(), packed.end());
    entries_.push_back(std::move(e));
    return true;
}

std::vector<std::uint8_t> zip_writer::finish() {
    std::vector<std::uint8_t> out = bytes_;
    const auto directory_offset = static_cast<std::uint32_t>(out.size());
    for (const entry& e : entries_) {
        put32(out, 0x02014b50);
        put16(out, VERSION);  // made by: MS-DOS host, version 2.0
        put_common(out, e.crc32, e.compressed_size, e.size, e.name.size());
        put16(out, 0);     // file comment length
        put16(out, 0);     // disk number
        put16(out, 0);     // internal attributes
        put32(out, 0x20);  // external attributes: archive bit
        put32(out, e.offset);
        out.insert(out.end(), e.name.begin(), e.name.end());
    }
    const auto directory_size = static_cast<std::uint32_t>(out.size() - directory_offset);
    put32(out, 0x06054b50);
    put16(out, 0);  // this disk
    put16(out, 0);  // disk of the directory
    put16(out, static_cast<std::uint32_t>(entries_.size()));
    put16(out, static_cast<std::uint32_t>(entries_.size()));
    put32(out, directory_size);
    put32(out, directory_offset);
    put16(out, 0);  // no archive comment
    return out;
}

}  // namespace skin_pack
