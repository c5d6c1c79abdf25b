// Release signatures on whole download attempts: keys and signatures are made
// by the minisign program, the package comes from a host on 127.0.0.1, and
// the attempt's outcome, its log line and the package file are checked.
#include "download/release_signature.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <array>
#include <cstdlib>
#include <map>

#include "download/package_download.h"
#include "download_test_support.h"

namespace {

using namespace download_test;

constexpr const char* VERSION = "2.0.0";
constexpr const char* RUNNING = "1.10.0";
// The product as the updater's command line names it, and as the update query
// (and so the trusted comment) writes it.
constexpr const char* PRODUCT = "Sample Tool \xE5\xB7\xA5\xE5\x85\xB7";
constexpr const char* PRODUCT_IN_QUERY = "Sample%20Tool%20%E5%B7%A5%E5%85%B7";
// The trusted comment a publisher writes for version V of the product.
std::string comment_for(const std::string& version) {
    return "version=" + version + " product=" + PRODUCT_IN_QUERY;
}
const std::string GOOD_COMMENT = comment_for(VERSION);

// Runs a shell command with no terminal input; its exit status.
int run(const std::string& command) {
    return std::system((command + " </dev/null >/dev/null 2>&1").c_str());
}

// Keys and signatures made once for every case by the minisign program.
class signing_kit {
public:
    signing_kit() {
        for (const char* name : {"current", "next", "stranger"}) {
            const std::string base = dir_.file(name);
            EXPECT_EQ(run("minisign -G -W -p " + base + ".pub -s " + base + ".key"), 0) << "minisign -G failed";
        }
    }
    // A key as the program reads it, and the id minisign wrote in its comment.
    release_key key(const std::string& name) const {
        release_key key;
        EXPECT_TRUE(parse_release_key(read_file(dir_.file(name + ".pub")), key)) << name;
        return key;
    }
    std::string key_id_of(const std::string& name) const {
        const std::string text = read_file(dir_.file(name + ".pub"));
        const std::string marker = "minisign public key ";
        const std::size_t at = text.find(marker);
        if (at == std::string::npos) return "";
        const std::size_t start = at + marker.size();
        return text.substr(start, text.find_first_not_of("0123456789ABCDEF", start) - start);
    }
    // The .minisig text of bytes, signed with the named key.
    std::string sign(const std::string& bytes, const std::string& key_name, const std::string& trusted_comment,
                     bool legacy = false) const {
        const std::string package = dir_.write("package", bytes);
        const std::string signature = package + ".minisig";
        std::filesystem::remove(signature);
        std::string command = "minisign -S -s " + dir_.file(key_name + ".key") + " -m " + package;
        if (!trusted_comment.empty()) command += " -t '" + trusted_comment + "'";
        if (legacy) command += " -l";
        EXPECT_EQ(run(command), 0) << command;
        return read_file(signature);
    }
    const temp_dir& dir() const { return dir_; }

private:
    temp_dir dir_;
};

// Replaces the first occurrence of from in text.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// The line at index (0-based) of a signature text.
std::string line_of(const std::string& text, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) start = text.find('\n', start) + 1;
    return text.substr(start, text.find('\n', start) - start);
}

struct attempt_result {
    bool ready = false;
    signature_verdict verdict;
    std::string log;
    bool package_left = false;
};

// The run a package is fetched for: the announced version, the product and
// the version running now.
struct run_claim {
    std::string version = VERSION;
    std::string product = PRODUCT;
    std::string running = RUNNING;
};

// One attempt of the download job for a package served by a host on
// 127.0.0.1, with its signature, the run it is for and the keys.
attempt_result fetch_signed(const std::string& served, const std::string& signature, const run_claim& claim,
                            signature_check check) {
    package_host host(served);
    const std::string name = unique_package_name("signed");
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url(name);
    fixture.task.package_md5 = md5_of(served);  // an attacker recomputes the digest too
    fixture.task.package_signature = signature;
    fixture.task.package_version = claim.version;
    fixture.task.product = utf8_to_ansi(claim.product);
    fixture.task.version = claim.running;
    fixture.task.package_path = module_dir() + name;
    fixture.task.progress_window = window.window();

    attempt_result result;
    testing::internal::CaptureStderr();
    result.ready = fetch_package(fixture.task, encoded_package_url(fixture.task.package_url), {}, &check);
    result.log = testing::internal::GetCapturedStderr();
    window.drain();
    result.verdict = check.verdict;
    result.package_left = std::filesystem::exists(fixture.task.package_path);
    std::error_code error;
    std::filesystem::remove(fixture.task.package_path, error);
    return result;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Base64 as minisign writes it.
std::string base64_of(const std::string& bytes) {
    std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.find('\0'));
    return text;
}

std::string bytes_of_base64(const std::string& text) {
    std::string bytes(text.size(), '\0');
    std::size_t size = 0;
    EXPECT_EQ(sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(), text.size(),
                                nullptr, &size, nullptr, sodium_base64_VARIANT_ORIGINAL),
              0);
    bytes.resize(size);
    return bytes;
}

// The signature with its two algorithm bytes replaced: minisign's comment
// signature does not cover them, so the trusted comment still verifies.
std::string with_algorithm(const std::string& signature, const char* algorithm) {
    const std::string line = line_of(signature, 1);
    std::string bytes = bytes_of_base64(line);
    bytes.replace(0, 2, algorithm);
    return replaced(signature, line, base64_of(bytes));
}

std::string blake2b_of(const std::string& bytes) {
    std::string hash(crypto_generichash_BYTES_MAX, '\0');
    EXPECT_EQ(crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), hash.size(),
                                 reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr, 0),
              0);
    return hash;
}

signature_check keys_of(const signing_kit& kit, legacy_signatures legacy = legacy_signatures::refused) {
    signature_check check;
    check.required = true;
    check.keys = {kit.key("current"), kit.key("next")};
    check.legacy = legacy;
    return check;
}

struct signature_case {
    const char* name;
    std::string served;
    std::string signature;
    run_claim claim;
    const char* reason;  // empty: verified
    const char* key;     // the key id expected in the verdict, by key name
};

void expect_verdicts(const signature_case* begin, const signature_case* end, const signing_kit& kit,
                     const signature_check& check) {
    for (const signature_case* c = begin; c != end; ++c) {
        SCOPED_TRACE(c->name);
        const attempt_result got = fetch_signed(c->served, c->signature, c->claim, check);
        const bool verified = std::string(c->reason).empty();
        EXPECT_EQ(got.ready, verified) << got.log;
        EXPECT_EQ(got.verdict.verified, verified);
        EXPECT_EQ(got.verdict.reason, c->reason) << got.verdict.detail;
        if (c->key != nullptr) {
            EXPECT_EQ(got.verdict.key_id, kit.key_id_of(c->key));
        }
        // A refused package is deleted at once and the log says why in one line.
        EXPECT_EQ(got.package_left, verified);
        if (verified) {
            EXPECT_EQ(count_of(got.log, "package signature verified, key " + got.verdict.key_id), 1u) << got.log;
            EXPECT_EQ(count_of(got.log, "signature refused"), 0u) << got.log;
        } else {
            EXPECT_EQ(count_of(got.log, "[TamsaUpdate]: package signature refused (" + std::string(c->reason) + ")"),
                      1u)
                << got.log;
        }
    }
}

TEST(release_signature, only_a_package_signed_by_our_keys_for_this_product_and_a_newer_version_is_ready) {
    const signing_kit kit;
    const std::string package = package_bytes(300001, 31);
    std::string tampered = package;
    tampered[123456] = static_cast<char>(tampered[123456] ^ 0x01);
    const std::string good = kit.sign(package, "current", GOOD_COMMENT);
    const std::string comment_edited = replaced(good, "version=2.0.0", "version=2.0.1");
    const std::string other_product = std::string("version=2.0.0 product=Other%20Tool");
    const std::string spaced_product = std::string("version=2.0.0 product=Sample Tool");
    const signature_case cases[] = {
        {"signed with the current key", package, good, {}, "", "current"},
        {"signed with the next key of a rotation", package, kit.sign(package, "next", GOOD_COMMENT), {}, "", "next"},
        {"tokens in another order among others",
         package,
         kit.sign(package, "current", std::string("release product=") + PRODUCT_IN_QUERY + " version=2.0.0 stable"),
         {},
         "",
         "current"},
        {"the same product named twice",
         package,
         kit.sign(package, "current", GOOD_COMMENT + " product=" + PRODUCT_IN_QUERY),
         {},
         "",
         "current"},
        {"1.10.0 to 2.0.0 and 1.9.0 to 1.10.0: newer by numbers",
         package,
         kit.sign(package, "current", comment_for("1.10.0")),
         {"1.10.0", PRODUCT, "1.9.0"},
         "",
         "current"},
        {"unsigned answer", package, "", {}, "unsigned", nullptr},
        {"a third key", package, kit.sign(package, "stranger", GOOD_COMMENT), {}, "unknown-key", "stranger"},
        {"one byte changed, digest recomputed", tampered, good, {}, "bad-signature", nullptr},
        {"signed for another version",
         package,
         kit.sign(package, "current", comment_for("1.9.0")),
         {},
         "wrong-version",
         nullptr},
        {"version with a longer number",
         package,
         kit.sign(package, "current", comment_for("2.0.0.1")),
         {},
         "wrong-version",
         nullptr},
        {"two versions named",
         package,
         kit.sign(package, "current", GOOD_COMMENT + " version=1.0.0"),
         {},
         "wrong-version",
         nullptr},
        {"minisign's default comment", package, kit.sign(package, "current", ""), {}, "wrong-version", nullptr},
        {"no version announced", package, good, {"", PRODUCT, RUNNING}, "wrong-version", nullptr},
        // Another product of the same publisher, signed with the same key.
        {"signed for another product",
         package,
         kit.sign(package, "current", other_product),
         {},
         "wrong-product",
         nullptr},
        {"no product named", package, kit.sign(package, "current", "version=2.0.0"), {}, "wrong-product", nullptr},
        {"two products named",
         package,
         kit.sign(package, "current", GOOD_COMMENT + " product=Other%20Tool"),
         {},
         "wrong-product",
         nullptr},
        {"product named as typed, not as the query sends it",
         package,
         kit.sign(package, "current", spaced_product),
         {},
         "wrong-product",
         nullptr},
        {"a token that only begins with product",
         package,
         kit.sign(package, "current", std::string("version=2.0.0 products=") + PRODUCT_IN_QUERY),
         {},
         "wrong-product",
         nullptr},
        {"the product's name only begins the same",
         package,
         kit.sign(package, "current", GOOD_COMMENT + "X"),
         {},
         "wrong-product",
         nullptr},
        // The genuine older release offered to a product that has a newer one.
        {"1.9.0 offered to 1.10.0",
         package,
         kit.sign(package, "current", comment_for("1.9.0")),
         {"1.9.0", PRODUCT, "1.10.0"},
         "not-newer",
         nullptr},
        {"the running version offered again",
         package,
         kit.sign(package, "current", comment_for("1.10.0")),
         {"1.10.0", PRODUCT, "1.10.0"},
         "not-newer",
         nullptr},
        {"the same version, written longer",
         package,
         kit.sign(package, "current", comment_for("1.10")),
         {"1.10", PRODUCT, "1.10.0"},
         "not-newer",
         nullptr},
        {"no running version known", package, good, {VERSION, PRODUCT, ""}, "not-newer", nullptr},
        {"trusted comment edited",
         package,
         comment_edited,
         {"2.0.1", PRODUCT, RUNNING},
         "bad-comment-signature",
         nullptr},
        {"signature line cut short",
         package,
         replaced(good, line_of(good, 1), line_of(good, 1).substr(0, 40)),
         {},
         "malformed",
         nullptr},
        {"not base64", package, replaced(good, line_of(good, 1), std::string(100, '*')), {}, "malformed", nullptr},
        {"trusted comment line missing",
         package,
         line_of(good, 0) + "\n" + line_of(good, 1) + "\n" + line_of(good, 3) + "\n",
         {},
         "malformed",
         nullptr},
        {"unknown algorithm", package, replaced(good, line_of(good, 1).substr(0, 2), "RX"), {}, "malformed", nullptr},
        {"a public key instead", package, read_file(kit.dir().file("current.pub")), {}, "malformed", nullptr},
        {"text of another kind", package, "<html>signature</html>", {}, "malformed", nullptr},
        // The legacy form is not accepted by default, not even when genuine.
        {"legacy form",
         package,
         kit.sign(package, "current", GOOD_COMMENT + " form=legacy", true),
         {},
         "legacy-form",
         nullptr},
        // A prehashed signature turned legacy, served with the real package's
        // BLAKE2b-512 hash as the "package" (its MD5 announced anew).
        {"prehashed signature turned legacy, hash served",
         blake2b_of(package),
         with_algorithm(good, "Ed"),
         {},
         "legacy-form",
         nullptr},
    };
    expect_verdicts(std::begin(cases), std::end(cases), kit, keys_of(kit));
}

// A program built to accept the legacy form takes a legacy signature only
// with form=legacy in its signed comment, so a prehashed signature turned
// legacy still forges nothing.
TEST(release_signature, legacy_form_only_when_built_for_it_and_signed_as_such) {
    const signing_kit kit;
    const std::string package = package_bytes(250007, 36);
    std::string tampered = package;
    tampered[4242] = static_cast<char>(tampered[4242] ^ 0x80);
    const std::string prehashed = kit.sign(package, "current", GOOD_COMMENT);
    const std::string legacy = kit.sign(package, "current", GOOD_COMMENT + " form=legacy", true);
    const signature_case cases[] = {
        {"legacy form, said so", package, legacy, {}, "", "current"},
        {"prehashed form still", package, prehashed, {}, "", "current"},
        {"legacy form without form=legacy",
         package,
         kit.sign(package, "current", GOOD_COMMENT, true),
         {},
         "legacy-form",
         nullptr},
        {"prehashed signature turned legacy, hash served",
         blake2b_of(package),
         with_algorithm(prehashed, "Ed"),
         {},
         "legacy-form",
         nullptr},
        {"one byte changed, legacy form", tampered, legacy, {}, "bad-signature", nullptr},
        {"legacy form for another product",
         package,
         kit.sign(package, "current", "version=2.0.0 product=Other form=legacy", true),
         {},
         "wrong-product",
         nullptr},
        {"legacy signature turned prehashed", package, with_algorithm(legacy, "ED"), {}, "bad-signature", nullptr},
    };
    expect_verdicts(std::begin(cases), std::end(cases), kit, keys_of(kit, legacy_signatures::accepted));
}

// The program's own build refuses the legacy form unless configured for it.
TEST(release_signature, the_build_option_decides_the_legacy_form) {
    const legacy_signatures configured =
        TAMSA_LEGACY_SIGNATURES ? legacy_signatures::accepted : legacy_signatures::refused;
    EXPECT_EQ(compiled_legacy_signatures(), configured);
    EXPECT_EQ(compiled_signature_check().legacy, configured);
}

// A build without keys behaves as before: no signature is looked at, good
// or bad, and the MD5 digest alone decides.
TEST(release_signature, a_build_without_keys_ignores_signatures) {
    const signing_kit kit;
    const std::string package = package_bytes(200003, 32);
    struct unkeyed_case {
        const char* name;
        std::string signature;
    };
    const unkeyed_case cases[] = {
        {"no signature", ""},
        {"signature by an unknown key", kit.sign(package, "stranger", GOOD_COMMENT)},
        {"malformed signature", "not a signature"},
        {"signed for another version", kit.sign(package, "current", comment_for("1.0.0"))},
        {"signed for another product", kit.sign(package, "current", "version=2.0.0 product=Other")},
        {"legacy form", kit.sign(package, "current", GOOD_COMMENT, true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const attempt_result got = fetch_signed(package, c.signature, {}, signature_check{});
        EXPECT_TRUE(got.ready) << got.log;
        EXPECT_TRUE(got.verdict.reason.empty());
        EXPECT_EQ(got.log.find("signature"), std::string::npos) << got.log;
        EXPECT_TRUE(got.package_left);
    }
}

// A build whose keys could not be read accepts nothing rather than anything.
TEST(release_signature, keys_required_but_none_usable_refuses_every_package) {
    const signing_kit kit;
    const std::string package = package_bytes(100000, 33);
    signature_check unusable;
    unusable.required = true;
    const attempt_result got = fetch_signed(package, kit.sign(package, "current", GOOD_COMMENT), {}, unusable);
    EXPECT_FALSE(got.ready);
    EXPECT_EQ(got.verdict.reason, "unknown-key");
    EXPECT_FALSE(got.package_left);
}

// Key ids read as minisign writes them, leading zeros dropped.
TEST(release_signature, key_id_text_is_minisigns) {
    struct id_case {
        std::array<unsigned char, 8> bytes;  // as stored: little-endian
        const char* text;
    };
    const id_case cases[] = {
        {{0x7a, 0xd2, 0xc4, 0x3d, 0x29, 0xaf, 0x63, 0x1c}, "1C63AF293DC4D27A"},
        {{0x22, 0xdf, 0xa1, 0x4a, 0xcc, 0xcd, 0x09, 0x0c}, "C09CDCC4AA1DF22"},
        {{0x01, 0, 0, 0, 0, 0, 0, 0}, "1"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(key_id_text(c.bytes), c.text);
    }
}

// Public key files: what minisign writes, and what it does not.
TEST(release_signature, reads_public_keys_as_minisign_writes_them) {
    const signing_kit kit;
    const std::string file = read_file(kit.dir().file("current.pub"));
    const std::string base64 = line_of(file, 1);
    struct key_case {
        const char* name;
        std::string text;
        bool accepted;
    };
    const key_case cases[] = {
        {"the file", file, true},
        {"the base64 line alone", base64, true},
        {"with carriage returns", replaced(file, "\n", "\r\n"), true},
        {"a secret key", read_file(kit.dir().file("current.key")), false},
        {"cut short", base64.substr(0, 50), false},
        {"three lines", file + "extra\n", false},
        {"comment without its prefix", "minisign public key\n" + base64, false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        release_key key;
        EXPECT_EQ(parse_release_key(c.text, key), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(key_id_text(key.key_id), kit.key_id_of("current"));
        }
    }
}

// The hash taken from the file when none was taken while the package arrived
// is the same BLAKE2b-512 that minisign signs.
TEST(release_signature, file_hash_is_blake2b_512) {
    const signing_kit kit;
    const std::string bytes = package_bytes(70001, 34);
    const std::string path = kit.dir().write("hashed", bytes);
    std::string expected(crypto_generichash_BYTES_MAX, '\0');
    ASSERT_EQ(sodium_init() >= 0, true);
    ASSERT_EQ(crypto_generichash(reinterpret_cast<unsigned char*>(expected.data()), expected.size(),
                                 reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr, 0),
              0);
    EXPECT_TRUE(file_blake2b(path) == expected);
    EXPECT_TRUE(file_blake2b(kit.dir().file("missing")).empty());
    // A prehashed signature checked against a package with no hash given reads the file itself.
    release_key key = kit.key("current");
    const signature_verdict verdict = verify_release_signature({key}, kit.sign(bytes, "current", GOOD_COMMENT),
                                                               {VERSION, PRODUCT_IN_QUERY, RUNNING}, path, "");
    EXPECT_TRUE(verdict.verified) << verdict.reason << ": " << verdict.detail;
}

// The command-line tool says which key verified the package, or why it was
// refused, and its exit status follows.
TEST(release_signature, package_fetch_reports_the_verdict) {
    const signing_kit kit;
    const std::string package = package_bytes(150001, 35);
    const std::string good = kit.sign(package, "current", GOOD_COMMENT);
    const std::string keys = " --pubkey " + kit.dir().file("current.pub") + " --pubkey " + kit.dir().file("next.pub");
    const std::string run = std::string(" --product '") + PRODUCT + "' --running-version " + RUNNING;
    struct tool_case {
        const char* name;
        std::string served;
        std::string signature;
        std::string options;
        bool ok;
        std::string line;
    };
    const tool_case cases[] = {
        {"verified by the next key", package, kit.sign(package, "next", GOOD_COMMENT), keys + " --version 2.0.0" + run,
         true, "signature=verified key=" + kit.key_id_of("next")},
        {"another version", package, good, keys + " --version 3.0.0" + run, false,
         "signature=refused reason=wrong-version"},
        {"a third key", package, kit.sign(package, "stranger", GOOD_COMMENT), keys + " --version 2.0.0" + run, false,
         "signature=refused reason=unknown-key"},
        {"another product", package, good, keys + " --version 2.0.0 --product Other --running-version 1.0", false,
         "signature=refused reason=wrong-product"},
        {"no product given", package, good, keys + " --version 2.0.0 --running-version 1.0", false,
         "signature=refused reason=wrong-product"},
        {"a newer version running", package, good,
         keys + " --version 2.0.0 --product '" + PRODUCT + "' --running-version 10.0", false,
         "signature=refused reason=not-newer"},
        {"prehashed signature turned legacy, hash served", blake2b_of(package), with_algorithm(good, "Ed"),
         keys + " --version 2.0.0" + run, false, "signature=refused reason=legacy-form"},
        {"no keys given: the build's own (none)", package, "", " --version 2.0.0", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        package_host host(c.served);
        const std::string name = unique_package_name("tool");
        const std::string signature = kit.dir().write("tool.minisig", c.signature);
        const std::string out = kit.dir().file("out.txt");
        const std::string command = std::string(PACKAGE_FETCH_BINARY) + c.options + " --signature " + signature + " '" +
                                    host.url(name) + "' '" + kit.dir().file(name) + "' > '" + out + "' 2>&1";
        const int status = std::system(command.c_str());
        const std::string printed = read_file(out);
        EXPECT_EQ(status == 0, c.ok) << printed;
        if (c.line.empty()) {
            EXPECT_EQ(printed.find("signature="), std::string::npos) << printed;
        } else {
            EXPECT_NE(printed.find(c.line + "\n"), std::string::npos) << printed;
        }
        EXPECT_EQ(std::filesystem::exists(kit.dir().file(name)), c.ok);
    }
}

}  // namespace
