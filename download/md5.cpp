// The MD5 message digest (RFC 1321) and the digest of a file.
#include "download/md5.h"

#include <cstring>
#include <fstream>
#include <memory>

namespace {

constexpr std::size_t FILE_BLOCK_BYTES = 64 * 1024;

inline std::uint32_t rotate_left(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline std::uint32_t load_le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void store_le32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The four auxiliary functions, in the forms that need the fewest operations.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f((b), (c), (d)) + (x) + (t);   \
    a = rotate_left(a, (s)) + (b);
// G as two disjoint terms added separately: the term without b can be
// computed before b is ready, which shortens the dependency chain.
#define MD5_STEP_G(a, b, c, d, x, t, s) \
    a += ((c) & ~(d)) + (x) + (t);      \
    a += (b) & (d);                     \
    a = rotate_left(a, (s)) + (b);

}  // namespace

md5::md5() : state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u}, count_{0, 0}, buffer_{}, digest_{} {}

void md5::transform_blocks(const unsigned char* data, std::size_t blocks) {
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = load_le32(data + 4 * i);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        // Round 1
        MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478u, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756u, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070dbu, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceeeu, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0fafu, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62au, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613u, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501u, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8u, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7afu, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1u, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7beu, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122u, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193u, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438eu, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821u, 22)

        // Round 2
        MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562u, 5)
        MD5_STEP_G(d, a, b, c, x[6], 0xc040b340u, 9)
        MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51u, 14)
        MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aau, 20)
        MD5_STEP_G(a, b, c, d, x[5], 0xd62f105du, 5)
        MD5_STEP_G(d, a, b, c, x[10], 0x02441453u, 9)
        MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681u, 14)
        MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8u, 20)
        MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6u, 5)
        MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6u, 9)
        MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87u, 14)
        MD5_STEP_G(b, c, d, a, x[8], 0x455a14edu, 20)
        MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905u, 5)
        MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8u, 9)
        MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9u, 14)
        MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8au, 20)

        // Round 3
        MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942u, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681u, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122u, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380cu, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44u, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9u, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60u, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70u, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6u, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fau, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085u, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05u, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039u, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5u, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8u, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665u, 23)

        // Round 4
        MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244u, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97u, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7u, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039u, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3u, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92u, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47du, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1u, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4fu, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0u, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314u, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1u, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82u, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235u, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bbu, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391u, 21)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

void md5::update(const void* data, std::size_t length) {
    if (finished_ || length == 0) {
        return;
    }
    const auto* input = static_cast<const unsigned char*>(data);
    std::size_t used = (count_[0] >> 3) & 63;
    // The bit count is a 64-bit number kept in two words.
    const std::uint64_t bits =
        (static_cast<std::uint64_t>(count_[1]) << 32 | count_[0]) + (static_cast<std::uint64_t>(length) << 3);
    count_[0] = static_cast<std::uint32_t>(bits);
    count_[1] = static_cast<std::uint32_t>(bits >> 32);

    if (used != 0) {
        const std::size_t take = length < 64 - used ? length : 64 - used;
        std::memcpy(buffer_ + used, input, take);
        used += take;
        input += take;
        length -= take;
        if (used < 64) {
            return;
        }
        transform_blocks(buffer_, 1);
    }
    transform_blocks(input, length / 64);
    input += length / 64 * 64;
    std::memcpy(buffer_, input, length % 64);
}

void md5::update(std::istream& stream) {
    auto block = std::make_unique<char[]>(FILE_BLOCK_BYTES);
    // A stream that fails before its end stops the loop as well.
    while (stream) {
        stream.read(block.get(), static_cast<std::streamsize>(FILE_BLOCK_BYTES));
        const std::streamsize got = stream.gcount();
        if (got <= 0) {
            break;
        }
        update(block.get(), static_cast<std::size_t>(got));
    }
}

void md5::finish() {
    unsigned char length_bytes[8];
    store_le32(length_bytes, count_[0]);
    store_le32(length_bytes + 4, count_[1]);
    const std::size_t used = (count_[0] >> 3) & 63;
    const std::size_t pad = used < 56 ? 56 - used : 120 - used;
    static const unsigned char PADDING[64] = {0x80};
    update(PADDING, pad);
    update(length_bytes, 8);
    for (int i = 0; i < 4; ++i) {
        store_le32(digest_ + 4 * i, state_[i]);
    }
    finished_ = true;
}

std::string md5::hex_digest() {
    if (!finished_) {
        finish();
    }
    static constexpr char HEX_DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (unsigned char byte : digest_) {
        text.push_back(HEX_DIGITS[byte >> 4]);
        text.push_back(HEX_DIGITS[byte & 15]);
    }
    return text;
}

void file_md5(const std::string& path, std::string& out) {
    md5 context;
    std::ifstream stream(path, std::ios::in | std::ios::binary);
    if (stream.good()) {
        context.update(stream);
    }
    out = context.hex_digest();
}
