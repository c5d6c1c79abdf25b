// Reading skin files from the in-memory archive and from the resource path,
// with the error texts that the layout reader reports.
#include "toolkit/skin_resources.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/toolkit/zip_test_archive.h"

namespace {

namespace fs = std::filesystem;

const std::size_t LIMIT = 0x400000;

struct load_result {
    bool ok;
    std::vector<std::uint8_t> bytes;
    std::string error;
};

load_result load(const std::wstring& name) {
    load_result r;
    r.ok = skinui::load_skin_file(name, r.bytes, r.error);
    return r;
}

// Every test starts with no archive and an empty resource path.
class skin_resources : public ::testing::Test {
protected:
    void SetUp() override {
        skinui::clear_resource_zip();
        skinui::set_resource_path(L"");
    }
    void TearDown() override {
        skinui::clear_resource_zip();
        skinui::set_resource_path(L"");
        std::error_code ignored;
        if (!folder_.empty()) fs::remove_all(folder_, ignored);
    }

    fs::path make_folder() {
        static std::atomic<int> counter{0};
        // Parallel test processes must never share a folder: a random token.
        folder_ = fs::temp_directory_path() /
                  ("skin_resources_test_" + test_support::random_token() + "_" + std::to_string(counter++));
        fs::create_directories(folder_);
        return folder_;
    }

    void use_archive(const std::vector<zip_test::member>& members) {
        archive_ = zip_test::build(members);
        skinui::set_resource_zip(archive_.data(), archive_.size());
    }

    std::vector<std::uint8_t> archive_;
    fs::path folder_;
};

TEST_F(skin_resources, archive_errors_have_the_reader_texts) {
    std::vector<std::uint8_t> corrupt_payload(3000, 'x');
    use_archive({
        {"layout.xml", zip_test::bytes_of("<Window/>")},
        {"empty.xml", {}},
        {"big.bin", std::vector<std::uint8_t>(LIMIT + 1, 0)},
        {"limit.bin", std::vector<std::uint8_t>(LIMIT, 1)},
        {"broken.png", corrupt_payload, 8, 0, -1, -1, true},
        {"badcrc.png", corrupt_payload, 8, 0, -1, 7},
    });
    struct error_case {
        std::wstring name;
        const char* error;  // empty: the file loads
        std::size_t size;
    };
    const std::vector<error_case> cases = {
        {L"layout.xml", "", 9},
        {L"missing.xml", "Could not find ziped file", 0},
        {L"empty.xml", "File is empty", 0},
        {L"big.bin", "File too large", 0},
        {L"limit.bin", "", LIMIT},
        {L"broken.png", "Could not unzip file", 0},
        {L"badcrc.png", "Could not unzip file", 0},
        {L"", "Could not find ziped file", 0},
    };
    for (const auto& c : cases) {
        load_result r = load(c.name);
        std::string name(c.name.begin(), c.name.end());
        EXPECT_EQ(r.ok, *c.error == '\0') << name << ": error \"" << r.error << "\"";
        EXPECT_EQ(r.error, c.error) << name;
        EXPECT_EQ(r.bytes.size(), c.size) << name;
    }
}

TEST_F(skin_resources, unreadable_archive_is_error_opening_zip_file) {
    archive_ = zip_test::build({{"a.xml", zip_test::bytes_of("<Window/>")}});
    archive_.resize(archive_.size() - 5);  // the end record is cut
    skinui::set_resource_zip(archive_.data(), archive_.size());
    EXPECT_TRUE(skinui::has_resource_zip());
    load_result r = load(L"a.xml");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Error opening zip file");
}

TEST_F(skin_resources, archive_lookup_rules) {
    use_archive({
        {"bg1.png", zip_test::bytes_of("bg")},
        {"img/sign.png", zip_test::bytes_of("sign")},
        {"\xb9\xd8\xb1\xd5.png", zip_test::bytes_of("close")},  // 关闭.png
        {std::string(255, 'n'), zip_test::bytes_of("255")},
        {std::string(256, 'n'), zip_test::bytes_of("256")},
    });
    struct lookup_case {
        std::wstring name;
        const char* content;  // null: not found
    };
    const std::vector<lookup_case> cases = {
        {L"BG1.PNG", "bg"},
        {L"Bg1.Png", "bg"},
        {L"img\\sign.png", "sign"},
        {L"IMG\\SIGN.PNG", "sign"},
        {L"img/sign.png", "sign"},
        {L"关闭.png", "close"},
        {std::wstring(255, L'n'), "255"},
        {std::wstring(256, L'n'), nullptr},
        {L"bg1", nullptr},
    };
    for (const auto& c : cases) {
        load_result r = load(c.name);
        std::string shown(c.name.begin(), c.name.end());
        if (c.content) {
            EXPECT_TRUE(r.ok) << shown << ": " << r.error;
            EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), c.content) << shown;
        } else {
            EXPECT_FALSE(r.ok) << shown;
            EXPECT_EQ(r.error, "Could not find ziped file") << shown;
        }
    }
}

TEST_F(skin_resources, first_archive_stays_until_cleared) {
    auto first = zip_test::build({{"which.txt", zip_test::bytes_of("first")}});
    auto second = zip_test::build({{"which.txt", zip_test::bytes_of("second")}});
    skinui::set_resource_zip(nullptr, 10);
    EXPECT_FALSE(skinui::has_resource_zip());
    skinui::set_resource_zip(first.data(), first.size());
    skinui::set_resource_zip(second.data(), second.size());
    load_result r = load(L"which.txt");
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "first");
    skinui::clear_resource_zip();
    EXPECT_FALSE(skinui::has_resource_zip());
    skinui::set_resource_zip(second.data(), second.size());
    r = load(L"which.txt");
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "second");
}

TEST_F(skin_resources, files_under_the_resource_path) {
    fs::path folder = make_folder();
    auto write = [&](const char* name, std::size_t size) {
        std::ofstream(folder / name, std::ios::binary) << std::string(size, 'z');
    };
    write("layout.xml", 40);
    write("empty.xml", 0);
    write("big.bin", LIMIT + 1);
    write("limit.bin", LIMIT);
    fs::create_directory(folder / "dir.xml");
    skinui::set_resource_path(folder.wstring());  // no trailing separator
    EXPECT_EQ(skinui::resource_path(), folder.wstring() + L"/");

    struct file_case {
        std::wstring name;
        const char* error;
        std::size_t size;
    };
    const std::vector<file_case> cases = {
        {L"layout.xml", "", 40},
        {L"missing.xml", "Error opening file", 0},
        {L"dir.xml", "Error opening file", 0},
        {L"empty.xml", "File is empty", 0},
        {L"big.bin", "File too large", 0},
        {L"limit.bin", "", LIMIT},
    };
    for (const auto& c : cases) {
        load_result r = load(c.name);
        std::string name(c.name.begin(), c.name.end());
        EXPECT_EQ(r.ok, *c.error == '\0') << name << ": error \"" << r.error << "\"";
        EXPECT_EQ(r.error, c.error) << name;
        EXPECT_EQ(r.bytes.size(), c.size) << name;
    }
}

TEST_F(skin_resources, archive_wins_over_files) {
    fs::path folder = make_folder();
    std::ofstream(folder / "only_on_disk.xml") << "<Window/>";
    skinui::set_resource_path(folder.wstring() + L"/");
    EXPECT_TRUE(load(L"only_on_disk.xml").ok);
    use_archive({{"other.xml", zip_test::bytes_of("<Window/>")}});
    load_result r = load(L"only_on_disk.xml");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Could not find ziped file");
}

}  // namespace

namespace {

void write_bytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string text_of(const load_result& r) {
    return std::string(r.bytes.begin(), r.bytes.end());
}

// A zip file under the resource path: kept after the first read when
// cached, read again for every file otherwise; a missing one fails as an
// archive that cannot be opened.
class skin_zip_file : public skin_resources {};

TEST_F(skin_zip_file, cached_keeps_the_first_read_and_uncached_reads_again) {
    for (const bool cached : {true, false}) {
        skinui::clear_resource_zip();
        const fs::path folder = make_folder();
        skinui::set_resource_path(folder.wstring());
        write_bytes(folder / "skin.zip", zip_test::build({{"a.xml", zip_test::bytes_of("first")}}));
        skinui::set_resource_zip_file(L"skin.zip", cached);
        EXPECT_EQ(text_of(load(L"a.xml")), "first");
        write_bytes(folder / "skin.zip", zip_test::build({{"a.xml", zip_test::bytes_of("second")}}));
        EXPECT_EQ(text_of(load(L"a.xml")), cached ? "first" : "second") << (cached ? "cached" : "not cached");
        fs::remove(folder / "skin.zip");
        const load_result gone = load(L"a.xml");
        EXPECT_EQ(gone.ok, cached);
        if (!cached) {
            EXPECT_EQ(gone.error, "Error opening zip file");
        }
        skinui::set_resource_zip_file(L"other.zip", true);
        if (cached) {
            EXPECT_EQ(text_of(load(L"a.xml")), "first") << "the first archive stays in use";
        }
    }
}

}  // namespace
