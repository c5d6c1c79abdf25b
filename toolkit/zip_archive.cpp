// Zip reading for the skin archive: every offset and size taken from the
// archive is checked against the buffer before it is used.
#include "toolkit/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "platform/text.h"
#include "platform/text_rules.h"

namespace skinui {

namespace {

const std::uint32_t END_RECORD_SIGNATURE = 0x06054b50;
const std::uint32_t DIRECTORY_SIGNATURE = 0x02014b50;
const std::uint32_t LOCAL_SIGNATURE = 0x04034b50;
const std::size_t END_RECORD_SIZE = 22;
const std::size_t DIRECTORY_ENTRY_SIZE = 46;
const std::size_t LOCAL_HEADER_SIZE = 30;
const std::size_t MAX_COMMENT = 0xFFFF;
const std::size_t MAX_NAME_CHARS = 256;

std::uint16_t read16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t read32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(read16(b, at)) | (static_cast<std::uint32_t>(read16(b, at + 2)) << 16);
}

// True when [offset, offset + length) lies inside a buffer of total bytes.
bool fits(std::size_t offset, std::size_t length, std::size_t total) {
    return offset <= total && length <= total - offset;
}

// The end-of-central-directory record is searched backwards over the
// largest possible archive comment.
std::size_t find_end_record(std::span<const std::uint8_t> b) {
    if (b.size() < END_RECORD_SIZE) return SIZE_MAX;
    std::size_t last = b.size() - END_RECORD_SIZE;
    std::size_t first = last > MAX_COMMENT ? last - MAX_COMMENT : 0;
    for (std::size_t at = last + 1; at-- > first;) {
        if (read32(b, at) == END_RECORD_SIGNATURE && read16(b, at + 20) <= b.size() - at - END_RECORD_SIZE) return at;
    }
    return SIZE_MAX;
}

bool is_lead_byte(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x81 && u <= 0xFE;
}

bool inflate_raw(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    Bytef none = 0;  // zlib refuses a null output pointer, even for no output
    stream.next_in = in.empty() ? &none : const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.empty() ? &none : out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = inflate(&stream, Z_FINISH);
    bool complete = status == Z_STREAM_END && stream.total_out == out.size();
    inflateEnd(&stream);  // result ignored on purpose: nothing to release beyond the stream
    return complete;
}

}  // namespace

bool zip_archive::open(std::span<const std::uint8_t> bytes) {
    bytes_ = bytes;
    members_.clear();
    open_ = false;
    std::size_t end_record = find_end_record(bytes);
    if (end_record == SIZE_MAX || !read_directory(end_record)) {
        members_.clear();
        bytes_ = {};
        return false;
    }
    open_ = true;
    return true;
}

bool zip_archive::read_directory(std::size_t end_record) {
    std::uint16_t disk = read16(bytes_, end_record + 4);
    std::uint16_t directory_disk = read16(bytes_, end_record + 6);
    std::uint16_t count = read16(bytes_, end_record + 10);
    std::uint32_t directory_size = read32(bytes_, end_record + 12);
    std::uint32_t directory_offset = read32(bytes_, end_record + 16);
    if (disk != 0 || directory_disk != 0 || read16(bytes_, end_record + 8) != count) return false;
    if (!fits(directory_offset, directory_size, end_record)) return false;
    std::size_t at = directory_offset;
    const std::size_t end = static_cast<std::size_t>(directory_offset) + directory_size;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (!fits(at, DIRECTORY_ENTRY_SIZE, end) || read32(bytes_, at) != DIRECTORY_SIGNATURE) return false;
        std::size_t name_length = read16(bytes_, at + 28);
        std::size_t variable = name_length + read16(bytes_, at + 30) + read16(bytes_, at + 32);
        if (!fits(at + DIRECTORY_ENTRY_SIZE, variable, end)) return false;
        zip_member m;
        m.flags = read16(bytes_, at + 8);
        m.method = read16(bytes_, at + 10);
        m.crc32 = read32(bytes_, at + 16);
        m.compressed_size = read32(bytes_, at + 20);
        m.size = read32(bytes_, at + 24);
        m.local_header_offset = read32(bytes_, at + 42);
        m.name.assign(reinterpret_cast<const char*>(bytes_.data() + at + DIRECTORY_ENTRY_SIZE), name_length);
        members_.push_back(std::move(m));
        at += DIRECTORY_ENTRY_SIZE + variable;
    }
    return true;
}

int zip_archive::find(std::string_view name) const {
    if (name.empty()) return -1;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        if (zip_names_match(members_[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

// The member's compressed bytes, after checking its local header.
bool zip_archive::member_data(const zip_member& member, std::span<const std::uint8_t>& data) const {
    std::size_t at = member.local_header_offset;
    if (!fits(at, LOCAL_HEADER_SIZE, bytes_.size()) || read32(bytes_, at) != LOCAL_SIGNATURE) return false;
    std::size_t start = at + LOCAL_HEADER_SIZE + read16(bytes_, at + 26) + read16(bytes_, at + 28);
    if (!fits(start, member.compressed_size, bytes_.size())) return false;
    data = bytes_.subspan(start, member.compressed_size);
    return true;
}

zip_extract_result zip_archive::extract(int index, std::vector<std::uint8_t>& out, std::size_t max_size) const {
    out.clear();
    if (index < 0 || static_cast<std::size_t>(index) >= members_.size()) return zip_extract_result::failed;
    const zip_member& member = members_[static_cast<std::size_t>(index)];
    if (member.size > max_size) return zip_extract_result::too_large;
    std::span<const std::uint8_t> data;
    if ((member.flags & 1) != 0 || !member_data(member, data)) return zip_extract_result::failed;  // bit 0: encrypted
    std::vector<std::uint8_t> result(member.size);
    bool ok = false;
    if (member.method == 0) {
        ok = data.size() == result.size();
        if (ok) std::copy(data.begin(), data.end(), result.begin());
    } else if (member.method == 8) {
        ok = data.size() <= UINT_MAX && inflate_raw(data, result);
    }
    if (!ok || ::crc32(0L, result.data(), static_cast<uInt>(result.size())) != member.crc32)
        return zip_extract_result::failed;
    out = std::move(result);
    return zip_extract_result::ok;
}

bool zip_names_match(std::string_view stored, std::string_view wanted) {
    if (stored.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (is_lead_byte(stored[i]) && i + 1 < stored.size()) {
            if (stored[i] != wanted[i] || stored[i + 1] != wanted[i + 1]) return false;
            ++i;
        } else if (platform::ascii_lower(stored[i]) != platform::ascii_lower(wanted[i])) {
            return false;
        }
    }
    return true;
}

std::string zip_lookup_name(std::wstring_view name) {
    if (name.size() >= MAX_NAME_CHARS) return {};
    std::wstring slashed(name);
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    return platform::wide_to_gbk(slashed);
}

}  // namespace skinui
