// Release signatures: the publisher's minisign signature of a package, checked
// against the release public keys built into the program. A signature counts
// only for the product and version its trusted comment names ("version=V
// product=P"), and only for a version newer than the one running, so that a
// signed package cannot be offered again to another product, as another
// release, or to a product that already has a newer one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class update_task;

// One Ed25519 release public key with its minisign key id.
struct release_key {
    std::array<unsigned char, 8> key_id{};
    std::array<unsigned char, 32> public_key{};
};

// The outcome of one check. reason is a short word for tools ("unsigned",
// "malformed", "legacy-form", "unknown-key", "bad-comment-signature",
// "wrong-version", "wrong-product", "not-newer", "bad-signature",
// "unreadable-package", "too-large"); detail is the log's sentence.
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

// What a signature must vouch for. The trusted comment must name version
// and product (each exactly, and no other value of either), and version
// must be newer than running_version by compare_dotted_versions.
struct release_claim {
    std::string version;          // the version the update service announces
    std::string product;          // the product as the update query names it: UTF-8, percent-encoded
    std::string running_version;  // the version of the product running now
};
// The claim of an update run: its announced version, product and version.
release_claim release_claim_of(const update_task& task);

// minisign's legacy form ("Ed", `minisign -l`) signs the package's bytes, and
// minisign signs its two algorithm bytes nowhere: a prehashed signature
// turned into a legacy one verifies for a "package" that is the 64-byte hash
// of the real one. The legacy form is therefore refused unless the program
// is built with TAMSA_LEGACY_SIGNATURES, and even then a legacy signature
// counts only when its trusted comment says "form=legacy" (which a turned
// signature lacks) and only on a 64-bit program: the package is checked in
// memory, which a 32-bit program cannot be sure to have.
enum class legacy_signatures { refused, accepted };

// Checks the whole text of a .minisig file for the package at package_path
// against claim. prehash: the package's BLAKE2b-512 hash (64 bytes) when it
// was taken while the package arrived, else empty (then read from the file
// when needed). keys must not be empty.
signature_verdict verify_release_signature(const std::vector<release_key>& keys, const std::string& signature_text,
                                           const release_claim& claim, const std::string& package_path,
                                           const std::string& prehash,
                                           legacy_signatures legacy = legacy_signatures::refused);

// The release keys this program was built with; empty in a build without
// keys, which then checks no signature.
const std::vector<release_key>& compiled_release_keys();
// True when the program was built with keys, even when one of them could
// not be read: such a program accepts no package rather than any.
bool release_keys_compiled();
// Whether this program was built to accept the legacy form
// (TAMSA_LEGACY_SIGNATURES).
legacy_signatures compiled_legacy_signatures();
