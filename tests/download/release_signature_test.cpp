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

// One attempt of the download job for a package served by a host on
// 127.0.0.1, with its signature, the announced version and the keys.
attempt_result fetch_signed(const std::string& served, const std::string& signature, const std::string& version,
                            signature_check check) {
    package_host host(served);
    const std::string name = unique_package_name("signed");
    task_fixture fixture;
    message_recorder window;
    fixture.task.package_url = host.url(name);
    fixture.task.package_md5 = md5_of(served);  // an attacker recomputes the digest too
    fixture.task.package_signature = signature;
    fixture.task.package_version = version;
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

TEST(release_signature, only_a_package_signed_by_our_keys_for_the_announced_version_is_ready) {
    const signing_kit kit;
    const std::string package = package_bytes(300001, 31);
    std::string tampered = package;
    tampered[123456] = static_cast<char>(tampered[123456] ^ 0x01);
    const std::string good = kit.sign(package, "current", "version=2.0.0");
    const std::string comment_edited = replaced(good, "version=2.0.0", "version=2.0.1");
    signature_check both_keys;
    both_keys.required = true;
    both_keys.keys = {kit.key("current"), kit.key("next")};

    struct signature_case {
        const char* name;
        std::string served;
        std::string signature;
        std::string version;
        const char* reason;  // empty: verified
        const char* key;     // the key id expected in the verdict, by key name
    };
    const signature_case cases[] = {
        {"signed with the current key", package, good, VERSION, "", "current"},
        {"signed with the next key of a rotation", package, kit.sign(package, "next", "version=2.0.0"), VERSION, "",
         "next"},
        {"legacy form", package, kit.sign(package, "current", "version=2.0.0", true), VERSION, "", "current"},
        {"version among other tokens", package, kit.sign(package, "current", "release version=2.0.0 stable"), VERSION,
         "", "current"},
        {"unsigned answer", package, "", VERSION, "unsigned", nullptr},
        {"a third key", package, kit.sign(package, "stranger", "version=2.0.0"), VERSION, "unknown-key", "stranger"},
        {"one byte changed, digest recomputed", tampered, good, VERSION, "bad-signature", nullptr},
        {"one byte changed, legacy form", tampered, kit.sign(package, "current", "version=2.0.0", true), VERSION,
         "bad-signature", nullptr},
        {"signed for another version", package, kit.sign(package, "current", "version=1.9.0"), VERSION, "wrong-version",
         nullptr},
        {"version with a longer number", package, kit.sign(package, "current", "version=2.0.0.1"), VERSION,
         "wrong-version", nullptr},
        {"two versions named", package, kit.sign(package, "current", "version=2.0.0 version=1.0.0"), VERSION,
         "wrong-version", nullptr},
        {"minisign's default comment", package, kit.sign(package, "current", ""), VERSION, "wrong-version", nullptr},
        {"no version announced", package, good, "", "wrong-version", nullptr},
        {"trusted comment edited", package, comment_edited, "2.0.1", "bad-comment-signature", nullptr},
        {"signature line cut short", package, replaced(good, line_of(good, 1), line_of(good, 1).substr(0, 40)), VERSION,
         "malformed", nullptr},
        {"not base64", package, replaced(good, line_of(good, 1), std::string(100, '*')), VERSION, "malformed", nullptr},
        {"trusted comment line missing", package,
         line_of(good, 0) + "\n" + line_of(good, 1) + "\n" + line_of(good, 3) + "\n", VERSION, "malformed", nullptr},
        {"unknown algorithm", package, replaced(good, line_of(good, 1).substr(0, 2), "RX"), VERSION, "malformed",
         nullptr},
        {"a public key instead", package, read_file(kit.dir().file("current.pub")), VERSION, "malformed", nullptr},
        {"text of another kind", package, "<html>signature</html>", VERSION, "malformed", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const attempt_result got = fetch_signed(c.served, c.signature, c.version, both_keys);
        const bool verified = std::string(c.reason).empty();
        EXPECT_EQ(got.ready, verified) << got.log;
        EXPECT_EQ(got.verdict.verified, verified);
        EXPECT_EQ(got.verdict.reason, c.reason) << got.verdict.detail;
        if (c.key != nullptr) {
            EXPECT_EQ(got.verdict.key_id, kit.key_id_of(c.key));
        }
        // A refused package is deleted at once and the log says why in one line.
        EXPECT_EQ(got.package_left, verified);
        if (verified) {
            EXPECT_EQ(count_of(got.log, "package signature verified, key " + got.verdict.key_id), 1u) << got.log;
            EXPECT_EQ(count_of(got.log, "signature refused"), 0u) << got.log;
        } else {
            EXPECT_EQ(count_of(got.log, "[TamsaUpdate]: package signature refused (" + std::string(c.reason) + ")"), 1u)
                << got.log;
        }
    }
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
        {"signature by an unknown key", kit.sign(package, "stranger", "version=2.0.0")},
        {"malformed signature", "not a signature"},
        {"signed for another version", kit.sign(package, "current", "version=1.0.0")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const attempt_result got = fetch_signed(package, c.signature, VERSION, signature_check{});
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
    const attempt_result got = fetch_signed(package, kit.sign(package, "current", "version=2.0.0"), VERSION, unusable);
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
    const signature_verdict verdict =
        verify_release_signature({key}, kit.sign(bytes, "current", "version=2.0.0"), VERSION, path, "");
    EXPECT_TRUE(verdict.verified) << verdict.reason << ": " << verdict.detail;
}

// The command-line tool says which key verified the package, or why it was
// refused, and its exit status follows.
TEST(release_signature, package_fetch_reports_the_verdict) {
    const signing_kit kit;
    const std::string package = package_bytes(150001, 35);
    package_host host(package);
    const std::string keys = " --pubkey " + kit.dir().file("current.pub") + " --pubkey " + kit.dir().file("next.pub");
    struct tool_case {
        const char* name;
        std::string signature;
        std::string options;
        bool ok;
        std::string line;
    };
    const tool_case cases[] = {
        {"verified by the next key", kit.sign(package, "next", "version=2.0.0"), keys + " --version 2.0.0", true,
         "signature=verified key=" + kit.key_id_of("next")},
        {"another version", kit.sign(package, "current", "version=2.0.0"), keys + " --version 3.0.0", false,
         "signature=refused reason=wrong-version"},
        {"a third key", kit.sign(package, "stranger", "version=2.0.0"), keys + " --version 2.0.0", false,
         "signature=refused reason=unknown-key"},
        {"no keys given: the build's own (none)", "", " --version 2.0.0", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
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
