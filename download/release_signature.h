// Release signatures: the publisher's minisign signature of a package, checked
// against the release public keys built into the program. A signature counts
// only for the version its trusted comment names ("version=V"), so an older
// signed package cannot be offered again as a newer release.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One Ed25519 release public key with its minisign key id.
struct release_key {
    std::array<unsigned char, 8> key_id{};
    std::array<unsigned char, 32> public_key{};
};

// The outcome of one check. reason is a short word for tools ("unsigned",
// "malformed", "unknown-key", "bad-signature", "bad-comment-signature",
// "wrong-version", "unreadable-package", "too-large"); detail is the log's
// sentence.
struct signature_verdict {
    bool verified = false;
    std::string key_id;
    std::string reason;
    std::string detail;
};

// The key id as minisign prints it in its key comment: the 64-bit
// little-endian number in uppercase hexadecimal, without leading zeros.
std::string key_id_text(const std::array<unsigned char, 8>& key_id);

// Reads a public key as `minisign -G` writes it (an optional untrusted
// comment line, then the base64 line), or the base64 line alone.
bool parse_release_key(std::string_view text, release_key& key);

// The BLAKE2b-512 hash a prehashed signature covers, for a package whose
// hash was not taken while it arrived; empty when the file cannot be read.
std::string file_blake2b(const std::string& path);

// Checks the whole text of a .minisig file for the package at package_path,
// announced as version. prehash: the package's BLAKE2b-512 hash (64 bytes)
// when it was taken while the package arrived, else empty (then read from
// the file when needed). keys must not be empty.
signature_verdict verify_release_signature(const std::vector<release_key>& keys, const std::string& signature_text,
                                           const std::string& version, const std::string& package_path,
                                           const std::string& prehash);

// The release keys this program was built with; empty in a build without
// keys, which then checks no signature.
const std::vector<release_key>& compiled_release_keys();
// True when the program was built with keys, even when one of them could
// not be read: such a program accepts no package rather than any.
bool release_keys_compiled();
