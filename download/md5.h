// The MD5 message digest (RFC 1321) and the digest of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

class md5 {
public:
    md5();
    // Adds bytes; whole 64-byte blocks are processed straight from the caller's buffer.
    void update(const void* data, std::size_t length);
    // Adds everything the stream yields until its end (or until it fails).
    void update(std::istream& stream);
    // The 32 lowercase hexadecimal digits; finishes the context on first use.
    std::string hex_digest();

private:
    void transform_blocks(const unsigned char* data, std::size_t blocks);
    void finish();

    std::uint32_t state_[4];
    std::uint32_t count_[2];  // input bits, low word first
    unsigned char buffer_[64];
    unsigned char digest_[16];
    bool finished_ = false;
};

// Stores the digest text of the file at path into out; a file that cannot be
// opened counts as empty.
void file_md5(const std::string& path, std::string& out);
