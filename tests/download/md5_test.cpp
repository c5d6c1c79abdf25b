// The MD5 digest, the digest of a file and the package's digest check.
#include "download/md5.h"

#include <gtest/gtest.h>

#include <sstream>

#include "download_test_support.h"

namespace {

using namespace download_test;

TEST(md5, matches_the_rfc_1321_test_suite) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(md5_of(input), expected) << "input of " << input.size() << " bytes";
    }
}

TEST(md5, pieces_of_any_size_give_the_digest_of_the_whole) {
    const std::string bytes = package_bytes(5000, 3);
    const std::string whole = md5_of(bytes);
    for (std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 1000u}) {
        md5 context;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            context.update(bytes.data() + at, std::min(piece, bytes.size() - at));
        }
        EXPECT_EQ(context.hex_digest(), whole) << "pieces of " << piece << " bytes";
    }
    // Padding lengths around the 56-byte boundary of the last block.
    for (std::size_t size : {55u, 56u, 57u, 63u, 64u, 119u, 120u}) {
        md5 context;
        context.update(bytes.data(), size);
        md5 split;
        split.update(bytes.data(), size / 2);
        split.update(bytes.data() + size / 2, size - size / 2);
        EXPECT_EQ(split.hex_digest(), context.hex_digest()) << "size " << size;
    }
}

TEST(md5, digest_is_fixed_once_taken) {
    md5 context;
    context.update("abc", 3);
    const std::string first = context.hex_digest();
    context.update("more", 4);
    EXPECT_EQ(context.hex_digest(), first);
    EXPECT_EQ(first, "900150983cd24fb0d6963f7d28e17f72");
}

TEST(md5, reads_a_stream_to_its_end) {
    const std::string bytes = package_bytes(200000, 5);
    std::istringstream stream(bytes);
    md5 context;
    context.update(stream);
    EXPECT_EQ(context.hex_digest(), md5_of(bytes));
}

TEST(file_md5, digests_the_file_and_treats_a_missing_one_as_empty) {
    temp_dir dir;
    const std::string bytes = package_bytes(3 * 65536 + 17, 9);
    write_file(dir.file("pkg.bin"), bytes);
    std::string out = "old";
    file_md5(dir.file("pkg.bin"), out);
    EXPECT_EQ(out, md5_of(bytes));
    file_md5(dir.file("missing.bin"), out);
    EXPECT_EQ(out, "d41d8cd98f00b204e9800998ecf8427e");
    // A directory cannot be read as a file: it ends like a missing one, without hanging.
    file_md5(dir.dir(), out);
    EXPECT_EQ(out, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(verify_package_md5, compares_ignoring_case_and_nothing_else) {
    temp_dir dir;
    const std::string bytes = "package content\n";
    const std::string right = md5_of(bytes);
    std::string upper = right;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string longer = md5_of(bytes + "x");
    struct verify_case {
        const char* name;
        std::string content;  // "<missing>" for no file
        std::string expected_md5;
        bool verified;
    };
    const verify_case cases[] = {
        {"exact", bytes, right, true},
        {"uppercase expected", bytes, upper, true},
        {"trailing blank", bytes, right + " ", false},
        {"one byte longer file", bytes + "x", right, false},
        {"other digest", bytes, longer, false},
        {"no digest, any file", "whatever", "", true},
        {"no digest, no file", "<missing>", "", true},
        {"digest, no file", "<missing>", right, false},
    };
    for (const auto& c : cases) {
        task_fixture fixture;
        fixture.task.package_path = dir.file(std::string("pkg_") + std::to_string(&c - cases));
        if (c.content != "<missing>") write_file(fixture.task.package_path, c.content);
        fixture.task.package_md5 = c.expected_md5;
        std::string local;
        file_md5(fixture.task.package_path, local);

        testing::internal::CaptureStderr();
        const bool verified = fixture.task.verify_package_md5();
        const std::string log = testing::internal::GetCapturedStderr();

        EXPECT_EQ(verified, c.verified) << c.name;
        const std::string line =
            "[TamsaUpdate]:  Update File Md5: " + c.expected_md5 + "  Local File Md5: " + local + " \n";
        const std::size_t found = log.find(line);
        if (c.verified) {
            EXPECT_EQ(log.find("Md5"), std::string::npos) << c.name << ": unexpected log " << log;
        } else {
            ASSERT_NE(found, std::string::npos) << c.name << ": log was \"" << log << "\", expected " << line;
            EXPECT_EQ(log.find("Md5", found + line.size()), std::string::npos) << c.name << ": more than one line";
        }
    }
}

}  // namespace
