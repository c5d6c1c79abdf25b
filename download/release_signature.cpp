// Reading and checking minisign release signatures with libsodium.
#include "download/release_signature.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>

#include "core/update_task.h"
#include "core/version_order.h"

namespace {

constexpr std::string_view UNTRUSTED_PREFIX = "untrusted comment: ";
constexpr std::string_view TRUSTED_PREFIX = "trusted comment: ";
constexpr std::size_t HASH_BYTES = crypto_generichash_BYTES_MAX;  // BLAKE2b-512
constexpr std::size_t READ_BLOCK_BYTES = 64 * 1024;
// A legacy signature covers the package itself, which libsodium checks in
// one piece in memory; larger packages must be signed prehashed.
constexpr std::uint64_t LEGACY_MAX_BYTES = 512ull * 1024 * 1024;
// No signature file minisign writes comes near this; anything longer is refused unread.
constexpr std::size_t SIGNATURE_MAX_BYTES = 8192;

// The signature line: algorithm, key id, Ed25519 signature.
struct signature_line {
    unsigned char algorithm[2];
    unsigned char key_id[8];
    unsigned char signature[crypto_sign_BYTES];
};
static_assert(sizeof(signature_line) == 74);

struct parsed_signature {
    signature_line line{};
    std::string trusted_comment;
    unsigned char global_signature[crypto_sign_BYTES]{};
};

struct key_line {
    unsigned char algorithm[2];
    unsigned char key_id[8];
    unsigned char public_key[crypto_sign_PUBLICKEYBYTES];
};
static_assert(sizeof(key_line) == 42);

bool sodium_ready() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Decodes standard base64 to exactly size bytes.
bool decode_exact(std::string_view text, void* out, std::size_t size) {
    if (text.empty()) return false;
    std::size_t decoded = 0;
    const char* end = nullptr;
    const int result = sodium_base642bin(static_cast<unsigned char*>(out), size, text.data(), text.size(), nullptr,
                                         &decoded, &end, sodium_base64_VARIANT_ORIGINAL);
    return result == 0 && decoded == size && end == text.data() + text.size();
}

// Lines without their line feed (and carriage return); trailing empty lines dropped.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t feed = text.find('\n');
        std::string_view line = text.substr(0, feed);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (feed == std::string_view::npos) break;
        text.remove_prefix(feed + 1);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

bool parse_signature(std::string_view text, parsed_signature& out) {
    const std::vector<std::string_view> lines = split_lines(text);
    if (lines.size() != 4 || !lines[0].starts_with(UNTRUSTED_PREFIX) || !lines[2].starts_with(TRUSTED_PREFIX)) {
        return false;
    }
    if (!decode_exact(lines[1], &out.line, sizeof out.line)) return false;
    if (!decode_exact(lines[3], out.global_signature, sizeof out.global_signature)) return false;
    out.trusted_comment = std::string(lines[2].substr(TRUSTED_PREFIX.size()));
    return true;
}

bool is_prehashed(const signature_line& line) {
    return line.algorithm[0] == 'E' && line.algorithm[1] == 'D';
}

bool is_legacy(const signature_line& line) {
    return line.algorithm[0] == 'E' && line.algorithm[1] == 'd';
}

// The values of the tokens key=VALUE in a trusted comment (tokens are
// separated by blanks and tabs), in order.
std::vector<std::string_view> token_values(std::string_view comment, std::string_view key) {
    std::vector<std::string_view> values;
    while (!comment.empty()) {
        const std::size_t start = comment.find_first_not_of(" \t");
        if (start == std::string_view::npos) break;
        comment.remove_prefix(start);
        const std::size_t end = comment.find_first_of(" \t");
        const std::string_view token = comment.substr(0, end);
        if (token.size() > key.size() && token.starts_with(key) && token[key.size()] == '=') {
            values.push_back(token.substr(key.size() + 1));
        }
        if (end == std::string_view::npos) break;
        comment.remove_prefix(end);
    }
    return values;
}

// True when the comment names key=expected and names no other value of key.
bool names_only(std::string_view comment, std::string_view key, const std::string& expected) {
    const std::vector<std::string_view> values = token_values(comment, key);
    if (expected.empty() || values.empty()) return false;
    return std::all_of(values.begin(), values.end(), [&](std::string_view value) { return value == expected; });
}

// A legacy signature covers the package in memory; a 32-bit program may
// not find that much address space in one piece, so it never tries.
constexpr bool LEGACY_FORM_POSSIBLE = sizeof(void*) >= 8;

signature_verdict refused(std::string reason, std::string detail) {
    signature_verdict verdict;
    verdict.reason = std::move(reason);
    verdict.detail = std::move(detail);
    return verdict;
}

const release_key* find_key(const std::vector<release_key>& keys, const unsigned char (&key_id)[8]) {
    for (const release_key& key : keys) {
        if (sodium_memcmp(key.key_id.data(), key_id, sizeof key_id) == 0) return &key;
    }
    return nullptr;
}

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

file_ptr open_for_reading(const std::string& path) {
    return file_ptr(std::fopen(path.c_str(), "rb"), &std::fclose);
}

// The whole file, for a legacy signature; nothing when it cannot be read,
// is too large, or does not fit in memory.
std::optional<std::string> read_whole(const std::string& path, bool& too_large) try {
    too_large = false;
    file_ptr file = open_for_reading(path);
    if (!file) return std::nullopt;
    std::string content;
    auto block = std::make_unique<char[]>(READ_BLOCK_BYTES);
    for (;;) {
        const std::size_t got = std::fread(block.get(), 1, READ_BLOCK_BYTES, file.get());
        if (got > 0) {
            if (content.size() + got > LEGACY_MAX_BYTES) {
                too_large = true;
                return std::nullopt;
            }
            content.append(block.get(), got);
        }
        if (got < READ_BLOCK_BYTES) break;
    }
    if (std::ferror(file.get()) != 0) return std::nullopt;
    return content;
} catch (const std::bad_alloc&) {
    return std::nullopt;
}

// The package's own signature: over its BLAKE2b-512 hash (prehashed) or
// over its bytes (legacy).
signature_verdict check_package_bytes(const release_key& key, const signature_line& line,
                                      const std::string& package_path, const std::string& prehash) {
    if (is_prehashed(line)) {
        const std::string hash = prehash.size() == HASH_BYTES ? prehash : file_blake2b(package_path);
        if (hash.size() != HASH_BYTES) {
            return refused("unreadable-package", "the package cannot be read: " + package_path);
        }
        if (crypto_sign_verify_detached(line.signature, reinterpret_cast<const unsigned char*>(hash.data()),
                                        hash.size(), key.public_key.data()) != 0) {
            return refused("bad-signature", "the package's bytes are not the ones signed");
        }
        return {};
    }
    bool too_large = false;
    const std::optional<std::string> content = read_whole(package_path, too_large);
    if (!content) {
        return too_large ? refused("too-large", "a legacy signature on a package over 512 MiB; sign it prehashed")
                         : refused("unreadable-package", "the package cannot be read: " + package_path);
    }
    if (crypto_sign_verify_detached(line.signature, reinterpret_cast<const unsigned char*>(content->data()),
                                    content->size(), key.public_key.data()) != 0) {
        return refused("bad-signature", "the package's bytes are not the ones signed");
    }
    return {};
}

}  // namespace

std::string key_id_text(const std::array<unsigned char, 8>& key_id) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = key_id.size(); i > 0; --i) {
        text += DIGITS[key_id[i - 1] >> 4];
        text += DIGITS[key_id[i - 1] & 0x0f];
    }
    // minisign writes the number without leading zeros (and "0" for zero).
    const std::size_t first = text.find_first_not_of('0');
    return first == std::string::npos ? "0" : text.substr(first);
}

bool parse_release_key(std::string_view text, release_key& key) {
    const std::vector<std::string_view> lines = split_lines(text);
    std::string_view encoded;
    if (lines.size() == 1) {
        encoded = lines[0];
    } else if (lines.size() == 2 && lines[0].starts_with(UNTRUSTED_PREFIX)) {
        encoded = lines[1];
    } else {
        return false;
    }
    if (!sodium_ready()) return false;
    key_line line{};
    if (!decode_exact(encoded, &line, sizeof line) || line.algorithm[0] != 'E' || line.algorithm[1] != 'd') {
        return false;
    }
    std::copy(std::begin(line.key_id), std::end(line.key_id), key.key_id.begin());
    std::copy(std::begin(line.public_key), std::end(line.public_key), key.public_key.begin());
    return true;
}

std::string file_blake2b(const std::string& path) {
    if (!sodium_ready()) return {};
    file_ptr file = open_for_reading(path);
    if (!file) return {};
    crypto_generichash_state state;
    if (crypto_generichash_init(&state, nullptr, 0, HASH_BYTES) != 0) return {};
    auto block = std::make_unique<unsigned char[]>(READ_BLOCK_BYTES);
    for (;;) {
        const std::size_t got = std::fread(block.get(), 1, READ_BLOCK_BYTES, file.get());
        if (got > 0) (void)crypto_generichash_update(&state, block.get(), got);  // cannot fail on a valid state
        if (got < READ_BLOCK_BYTES) break;
    }
    if (std::ferror(file.get()) != 0) return {};
    std::string hash(HASH_BYTES, '\0');
    if (crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(hash.data()), hash.size()) != 0) return {};
    return hash;
}

release_claim release_claim_of(const update_task& task) {
    return {task.package_version, task.query_product(), task.version};
}

namespace {

// The refusal of a legacy signature this program does not take, before any
// key or byte is looked at; nothing for a prehashed one.
std::optional<signature_verdict> legacy_refusal(const parsed_signature& signature, legacy_signatures legacy) {
    if (!is_legacy(signature.line)) return std::nullopt;
    if (legacy == legacy_signatures::refused) {
        return refused("legacy-form",
                       "a legacy signature (minisign -l), which this program does not accept; sign "
                       "the package with minisign's default form");
    }
    if (!LEGACY_FORM_POSSIBLE) {
        return refused("legacy-form",
                       "a legacy signature, which a 32-bit program does not check; sign the package "
                       "with minisign's default form");
    }
    return std::nullopt;
}

// The trusted comment's promises, against what this run expects.
std::optional<signature_verdict> claim_refusal(const parsed_signature& signature, const release_claim& claim) {
    const std::string_view comment = signature.trusted_comment;
    if (!names_only(comment, "version", claim.version)) {
        return refused("wrong-version", "the signature is not for version " + claim.version + " (\"" +
                                            signature.trusted_comment + "\")");
    }
    if (!names_only(comment, "product", claim.product)) {
        return refused("wrong-product", "the signature is not for product " + claim.product + " (\"" +
                                            signature.trusted_comment + "\")");
    }
    if (claim.running_version.empty() || !dotted_version_is_newer(claim.version, claim.running_version)) {
        return refused("not-newer",
                       "version " + claim.version + " is not newer than the running " + claim.running_version);
    }
    // Only the publisher's own comment can say the form; a prehashed
    // signature turned into a legacy one carries a comment without it.
    if (is_legacy(signature.line) && !names_only(comment, "form", "legacy")) {
        return refused("legacy-form", "a legacy signature whose trusted comment does not say form=legacy");
    }
    return std::nullopt;
}

}  // namespace

signature_verdict verify_release_signature(const std::vector<release_key>& keys, const std::string& signature_text,
                                           const release_claim& claim, const std::string& package_path,
                                           const std::string& prehash, legacy_signatures legacy) {
    if (!sodium_ready()) return refused("malformed", "the signature library cannot start");
    if (signature_text.empty()) return refused("unsigned", "the update service sent no signature");
    parsed_signature signature;
    if (signature_text.size() > SIGNATURE_MAX_BYTES || !parse_signature(signature_text, signature) ||
        (!is_prehashed(signature.line) && !is_legacy(signature.line))) {
        return refused("malformed", "the signature is not a minisign signature");
    }
    if (std::optional<signature_verdict> refusal = legacy_refusal(signature, legacy)) return *refusal;
    std::array<unsigned char, 8> key_id{};
    std::copy(std::begin(signature.line.key_id), std::end(signature.line.key_id), key_id.begin());
    const release_key* key = find_key(keys, signature.line.key_id);
    if (key == nullptr) {
        signature_verdict verdict = refused("unknown-key", "signed with key " + key_id_text(key_id) + ", not ours");
        verdict.key_id = key_id_text(key_id);
        return verdict;
    }
    // The trusted comment is signed together with the signature itself.
    std::string signed_comment(reinterpret_cast<const char*>(signature.line.signature), crypto_sign_BYTES);
    signed_comment += signature.trusted_comment;
    if (crypto_sign_verify_detached(signature.global_signature,
                                    reinterpret_cast<const unsigned char*>(signed_comment.data()),
                                    signed_comment.size(), key->public_key.data()) != 0) {
        return refused("bad-comment-signature", "the trusted comment is not the one signed");
    }
    if (std::optional<signature_verdict> refusal = claim_refusal(signature, claim)) return *refusal;
    signature_verdict verdict = check_package_bytes(*key, signature.line, package_path, prehash);
    verdict.key_id = key_id_text(key_id);
    verdict.verified = verdict.reason.empty();
    return verdict;
}

// The texts of the key files named at build time; defined in a source the
// build generates from them.
const std::vector<std::string_view>& compiled_release_key_texts();

namespace {

struct compiled_keys {
    std::vector<release_key> keys;
    bool compiled = false;
};

const compiled_keys& read_compiled_keys() {
    static const compiled_keys result = [] {
        compiled_keys read;
        read.compiled = !compiled_release_key_texts().empty();
        for (std::string_view text : compiled_release_key_texts()) {
            release_key key;
            // The build checks each file; a key it let through and that still
            // does not read is left out, so that no package is accepted with it.
            if (parse_release_key(text, key)) read.keys.push_back(key);
        }
        return read;
    }();
    return result;
}

}  // namespace

const std::vector<release_key>& compiled_release_keys() {
    return read_compiled_keys().keys;
}

bool release_keys_compiled() {
    return read_compiled_keys().compiled;
}

legacy_signatures compiled_legacy_signatures() {
#if TAMSA_LEGACY_SIGNATURES
    return legacy_signatures::accepted;
#else
    return legacy_signatures::refused;
#endif
}
