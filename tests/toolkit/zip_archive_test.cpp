// The in-memory zip reader: extraction, lookup rules and hostile archives.
#include "toolkit/zip_archive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/toolkit/zip_test_archive.h"

namespace {

using skinui::zip_archive;
using skinui::zip_extract_result;

const std::size_t LIMIT = 0x400000;

std::vector<std::uint8_t> pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 7 + i / 13) & 0xFF);
    return v;
}

TEST(zip_archive, extracts_stored_and_deflated_members_in_directory_order) {
    std::vector<zip_test::member> members = {
        {"a.xml", zip_test::bytes_of("<Window/>"), 8},
        {"sub/b.bin", pattern(70000), 0},
        {"c.png", pattern(5000), 8},
    };
    auto bytes = zip_test::build(members);
    zip_archive zip;
    ASSERT_TRUE(zip.open(bytes));
    ASSERT_EQ(zip.members().size(), 3u);
    for (std::size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(zip.members()[i].name, members[i].name);
        EXPECT_EQ(zip.members()[i].method, members[i].method);
        std::vector<std::uint8_t> out;
        EXPECT_EQ(zip.extract(static_cast<int>(i), out, LIMIT), zip_extract_result::ok) << members[i].name;
        EXPECT_EQ(out, members[i].content) << members[i].name;
    }
}

TEST(zip_archive, refuses_bytes_that_are_no_archive) {
    const std::vector<std::vector<std::uint8_t>> cases = {
        {},
        zip_test::bytes_of("PK"),
        zip_test::bytes_of(std::string(100, 'x')),
        std::vector<std::uint8_t>(22, 0),
    };
    for (const auto& bytes : cases) {
        zip_archive zip;
        EXPECT_FALSE(zip.open(bytes)) << "size " << bytes.size();
        EXPECT_TRUE(zip.members().empty());
        EXPECT_EQ(zip.find("a"), -1);
    }
}

// Every prefix of a valid archive: the reader must refuse it or extract
// only correct data, and never read outside the buffer (ASan watches).
TEST(zip_archive, truncated_archives_never_read_out_of_bounds) {
    auto full = zip_test::build({{"a.txt", pattern(300), 8}, {"b.txt", pattern(40), 0}});
    for (std::size_t n = 0; n < full.size(); ++n) {
        std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<long>(n));
        zip_archive zip;
        if (!zip.open(cut)) continue;
        for (int i = 0; i < static_cast<int>(zip.members().size()); ++i) {
            std::vector<std::uint8_t> out;
            EXPECT_NE(zip.extract(i, out, LIMIT), zip_extract_result::ok) << "prefix " << n << " member " << i;
        }
    }
}

// Flipping every byte in turn must never crash or yield wrong content:
// whatever extracts must still match what was packed (the CRC guards it).
TEST(zip_archive, corrupted_bytes_never_yield_wrong_content) {
    auto content = pattern(600);
    auto full = zip_test::build({{"only.bin", content, 8}});
    for (std::size_t at = 0; at < full.size(); ++at) {
        auto broken = full;
        broken[at] ^= 0xFF;
        zip_archive zip;
        if (!zip.open(broken)) continue;
        for (int i = 0; i < static_cast<int>(zip.members().size()); ++i) {
            std::vector<std::uint8_t> out;
            if (zip.extract(i, out, LIMIT) == zip_extract_result::ok) {
                EXPECT_EQ(out, content) << "byte " << at << " flipped";
            }
        }
    }
}

TEST(zip_archive, member_faults_fail_extraction) {
    struct fault_case {
        const char* what;
        zip_test::member member;
        zip_extract_result expected;
    };
    auto content = pattern(1000);
    std::vector<fault_case> cases = {
        {"wrong crc", {"m", content, 8, 0, -1, 0x12345678}, zip_extract_result::failed},
        {"corrupt deflate data", {"m", content, 8, 0, -1, -1, true}, zip_extract_result::failed},
        {"declared size too small", {"m", content, 8, 0, 999}, zip_extract_result::failed},
        {"declared size too big", {"m", content, 8, 0, 1001}, zip_extract_result::failed},
        {"stored with wrong size", {"m", content, 0, 0, 1001}, zip_extract_result::failed},
        {"encrypted", {"m", content, 8, 1}, zip_extract_result::failed},
        {"unknown method", {"m", content, 12}, zip_extract_result::failed},
        {"declared 4 GiB", {"m", content, 8, 0, 0xFFFFFFFF}, zip_extract_result::too_large},
        {"declared one over the limit", {"m", content, 8, 0, LIMIT + 1}, zip_extract_result::too_large},
    };
    for (const auto& c : cases) {
        auto bytes = zip_test::build({c.member});
        zip_archive zip;
        ASSERT_TRUE(zip.open(bytes)) << c.what;
        std::vector<std::uint8_t> out;
        EXPECT_EQ(zip.extract(0, out, LIMIT), c.expected) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
}

TEST(zip_archive, offsets_pointing_outside_the_buffer_are_refused) {
    auto bytes = zip_test::build({{"m", pattern(200), 8}});
    std::size_t end = bytes.size() - 22;
    std::size_t directory = bytes[end + 16] | (bytes[end + 17] << 8);
    auto put32 = [](std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    {
        auto broken = bytes;  // directory beyond the end record
        put32(broken, end + 16, static_cast<std::uint32_t>(end));
        EXPECT_FALSE(zip_archive().open(broken));
    }
    {
        auto broken = bytes;  // directory size beyond the buffer
        put32(broken, end + 12, 0xFFFFFFF0u);
        EXPECT_FALSE(zip_archive().open(broken));
    }
    {
        auto broken = bytes;  // more entries than the directory holds
        broken[end + 8] = broken[end + 10] = 2;
        EXPECT_FALSE(zip_archive().open(broken));
    }
    for (std::uint32_t wrong : {0xFFFFFFF0u, static_cast<std::uint32_t>(bytes.size() - 10), 1u}) {
        auto broken = bytes;  // local header offset outside or not at a header
        put32(broken, directory + 42, wrong);
        zip_archive zip;
        ASSERT_TRUE(zip.open(broken));
        std::vector<std::uint8_t> out;
        EXPECT_EQ(zip.extract(0, out, LIMIT), zip_extract_result::failed) << "offset " << wrong;
    }
    {
        auto broken = bytes;  // compressed size running past the buffer
        put32(broken, directory + 20, 0x7FFFFFFF);
        zip_archive zip;
        ASSERT_TRUE(zip.open(broken));
        std::vector<std::uint8_t> out;
        EXPECT_EQ(zip.extract(0, out, LIMIT), zip_extract_result::failed);
    }
    zip_archive zip;
    ASSERT_TRUE(zip.open(bytes));
    std::vector<std::uint8_t> out;
    EXPECT_EQ(zip.extract(-1, out, LIMIT), zip_extract_result::failed);
    EXPECT_EQ(zip.extract(1, out, LIMIT), zip_extract_result::failed);
}

TEST(zip_archive, name_matching_folds_ascii_letters_only) {
    struct match_case {
        std::string stored, wanted;
        bool expected;
    };
    const std::vector<match_case> cases = {
        {"bg1.png", "BG1.PNG", true},
        {"Min.png", "min.PNG", true},
        {"bg1.png", "bg1.png ", false},
        {"bg1.png", "bg2.png", false},
        {"sub/a.png", "SUB/A.PNG", true},
        // "@" and "`" sit next to the letters in ASCII and are not folded.
        {"a@", "A`", false},
        // GBK 0x81 0x41 and 0x81 0x61 are two different characters; their
        // trail bytes look like "A" and "a" and must not be folded.
        {"\x81\x41.png", "\x81\x61.png", false},
        {"\x81\x41.png", "\x81\x41.PNG", true},
        {"\xb9\xd8\xb1\xd5.png", "\xb9\xd8\xb1\xd5.png", true},
        {"\xb9\xd8\xb1\xd5.png", "\xb9\xd8\xb1\xd6.png", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(skinui::zip_names_match(c.stored, c.wanted), c.expected)
            << "stored \"" << c.stored << "\" wanted \"" << c.wanted << "\"";
    }
}

TEST(zip_archive, lookup_names_are_code_page_936_with_slashes) {
    EXPECT_EQ(skinui::zip_lookup_name(L"bg1.png"), "bg1.png");
    EXPECT_EQ(skinui::zip_lookup_name(L"skin\\img\\bg1.png"), "skin/img/bg1.png");
    EXPECT_EQ(skinui::zip_lookup_name(L"关闭.png"), "\xb9\xd8\xb1\xd5.png");
    // The GBK form of U+4E57 ends in 0x5C, the backslash byte; it must stay.
    EXPECT_EQ(skinui::zip_lookup_name(L"\u4e57.png"), "\x81\x5c.png");
    EXPECT_EQ(skinui::zip_lookup_name(std::wstring(255, L'a')), std::string(255, 'a'));
    EXPECT_EQ(skinui::zip_lookup_name(std::wstring(256, L'a')), "");
    EXPECT_EQ(skinui::zip_lookup_name(std::wstring(300, L'a')), "");
}

TEST(zip_archive, find_returns_the_first_matching_member) {
    auto bytes = zip_test::build({
        {"a.png", zip_test::bytes_of("1")},
        {"A.PNG", zip_test::bytes_of("2")},
        {"dir/\x81\x5c.png", zip_test::bytes_of("3")},
    });
    zip_archive zip;
    ASSERT_TRUE(zip.open(bytes));
    EXPECT_EQ(zip.find("A.png"), 0);
    EXPECT_EQ(zip.find(skinui::zip_lookup_name(L"DIR\\\u4e57.PNG")), 2);
    EXPECT_EQ(zip.find("dir"), -1);
    EXPECT_EQ(zip.find(""), -1);
}

}  // namespace
