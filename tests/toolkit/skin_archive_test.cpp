// The skin archive linked into the program: its members, their format, and
// the layout files and images it carries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/text.h"
#include "skin/resource_table.h"
#include "toolkit/skin_resources.h"
#include "toolkit/zip_archive.h"

namespace {

namespace fs = std::filesystem;

// The checked-in skin folder, found from this file's place in the tree.
fs::path skin_folder() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "skin";
}

std::vector<std::uint8_t> read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::uint32_t read32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint32_t read32_big_endian(const std::vector<std::uint8_t>& b, std::size_t at) {
    return (static_cast<std::uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

const char* const MEMBERS_IN_ORDER[] = {
    "UpdateWnd.xml", "感叹号.png", "关闭.png",          "取消.png", "确认.png",   "最小化.png",
    "bg1.png",       "bg2.png",    "HintUpdateWnd.xml", "Min.png",  "progbg.png", "progfg.png",
};

class skin_archive : public ::testing::Test {
protected:
    void SetUp() override {
        bytes_ = find_resource("ZIPRES", 200);
        ASSERT_FALSE(bytes_.empty()) << "resource ZIPRES/200 is missing";
        ASSERT_TRUE(zip_.open(bytes_));
    }
    void TearDown() override { skinui::clear_resource_zip(); }

    std::vector<std::uint8_t> member(const char* utf8_name) {
        std::vector<std::uint8_t> out;
        int index = zip_.find(skinui::zip_lookup_name(platform::utf8_to_wide(utf8_name)));
        EXPECT_GE(index, 0) << utf8_name;
        if (index >= 0) {
            EXPECT_EQ(zip_.extract(index, out, 0x400000), skinui::zip_extract_result::ok) << utf8_name;
        }
        return out;
    }

    std::span<const std::uint8_t> bytes_;
    skinui::zip_archive zip_;
};

TEST_F(skin_archive, resource_table_finds_only_the_skin) {
    EXPECT_TRUE(find_resource("ZIPRES", 201).empty());
#ifdef _WIN32
    // Windows compares resource type names without regard to case.
    EXPECT_EQ(find_resource("zipres", 200).data(), find_resource("ZIPRES", 200).data());
#else
    EXPECT_TRUE(find_resource("zipres", 200).empty());
#endif
    EXPECT_TRUE(find_resource("xml", 200).empty());
}

TEST_F(skin_archive, twelve_deflated_members_with_gbk_names_in_order) {
    ASSERT_EQ(zip_.members().size(), std::size(MEMBERS_IN_ORDER));
    for (std::size_t i = 0; i < zip_.members().size(); ++i) {
        const skinui::zip_member& m = zip_.members()[i];
        std::string expected_name = platform::wide_to_gbk(platform::utf8_to_wide(MEMBERS_IN_ORDER[i]));
        EXPECT_EQ(m.name, expected_name) << "member " << i << " should be " << MEMBERS_IN_ORDER[i];
        EXPECT_EQ(m.method, 8) << MEMBERS_IN_ORDER[i];
        EXPECT_EQ(m.flags & 0x0800, 0) << MEMBERS_IN_ORDER[i] << " has the UTF-8 name flag";
        EXPECT_EQ(m.name.find('/'), std::string::npos) << MEMBERS_IN_ORDER[i] << " is not flat";
    }
    // The end record closes the archive: no archive comment.
    std::vector<std::uint8_t> all(bytes_.begin(), bytes_.end());
    ASSERT_GE(all.size(), 22u);
    EXPECT_EQ(read32(all, all.size() - 22), 0x06054b50u);
}

TEST_F(skin_archive, members_are_the_checked_in_files) {
    for (const char* name : MEMBERS_IN_ORDER) {
        std::vector<std::uint8_t> on_disk = read_file(skin_folder() / fs::u8path(name));
        ASSERT_FALSE(on_disk.empty()) << name << " is missing in " << skin_folder();
        EXPECT_TRUE(member(name) == on_disk) << name << " differs from the file in skin/";
    }
}

// PNG signature, then IHDR: width, height, bit depth 8, colour type 6 (RGBA).
TEST_F(skin_archive, images_are_8_bit_rgba_of_their_sizes) {
    struct image_case {
        const char* name;
        std::uint32_t width, height;
    };
    const image_case cases[] = {
        {"感叹号.png", 16, 16},  {"关闭.png", 14, 14},    {"取消.png", 96, 32},  {"确认.png", 96, 32},
        {"最小化.png", 14, 14},  {"bg1.png", 412, 200},   {"bg2.png", 586, 280}, {"Min.png", 16, 16},
        {"progbg.png", 498, 14}, {"progfg.png", 496, 12},
    };
    const std::vector<std::uint8_t> signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const auto& c : cases) {
        std::vector<std::uint8_t> png = member(c.name);
        ASSERT_GE(png.size(), 33u) << c.name;
        EXPECT_TRUE(std::equal(signature.begin(), signature.end(), png.begin())) << c.name;
        EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR") << c.name;
        EXPECT_EQ(read32_big_endian(png, 16), c.width) << c.name;
        EXPECT_EQ(read32_big_endian(png, 20), c.height) << c.name;
        EXPECT_EQ(png[24], 8) << c.name << " bit depth";
        EXPECT_EQ(png[25], 6) << c.name << " colour type";
    }
}

TEST_F(skin_archive, layout_files_are_utf8_with_bom_and_crlf) {
    for (const char* name : {"HintUpdateWnd.xml", "UpdateWnd.xml"}) {
        std::vector<std::uint8_t> bytes = member(name);
        std::string text(bytes.begin(), bytes.end());
        ASSERT_GE(text.size(), 3u) << name;
        EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF") << name << " lacks the byte-order mark";
        EXPECT_EQ(text.substr(3, 40), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n") << name;
        std::size_t bare_lf = 0, crlf = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') (i > 0 && text[i - 1] == '\r') ? ++crlf : ++bare_lf;
        }
        EXPECT_EQ(bare_lf, 0u) << name << " has line feeds without carriage return";
        EXPECT_GT(crlf, 10u) << name;
        EXPECT_NE(text.find("<!--"), std::string::npos) << name << " has no comment";
        EXPECT_NE(text.find(" = \""), std::string::npos) << name << " has no blanks around an equals sign";
        EXPECT_NE(text.find("name=\"微软雅黑\""), std::string::npos) << name;
        // "Min.png" is packed but no layout uses it.
        EXPECT_EQ(text.find("Min.png"), std::string::npos) << name;
    }
}

// The program's path: the archive handed to the toolkit, names looked up
// the way the layouts and the windows write them.
TEST_F(skin_archive, toolkit_reads_the_linked_archive) {
    skinui::set_resource_zip(bytes_.data(), bytes_.size());
    std::vector<std::uint8_t> out;
    std::string error;
    for (const wchar_t* name : {L"HintUpdateWnd.xml", L"UpdateWnd.xml", L"BG1.PNG", L"关闭.png", L"progfg.png"}) {
        EXPECT_TRUE(skinui::load_skin_file(name, out, error)) << platform::wide_to_utf8(name) << ": " << error;
    }
    EXPECT_FALSE(skinui::load_skin_file(L"bg3.png", out, error));
    EXPECT_EQ(error, "Could not find ziped file");
}

}  // namespace
