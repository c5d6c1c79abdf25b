// Tests of the executable's resources: the skin archive as "ZIPRES" 200 and
// the manifest, compiled into this test program as into the updater.
#include <gtest/gtest.h>

#include <string>

#include "platform/executable_resource.h"
#include "platform/text.h"
#include "win32_test_support.h"

namespace {

std::string as_text(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(win32_resource, skin_archive_is_the_packed_zip) {
    const auto archive = platform::executable_resource("ZIPRES", 200);
    const std::string expected = win32_test::read_file(SKIN_ZIP_PATH);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(as_text(archive) == expected) << "got " << archive.size() << " bytes, expected " << expected.size();
    EXPECT_TRUE(as_text(archive).starts_with("PK\x03\x04"));
    EXPECT_NE(as_text(archive).find(platform::wide_to_gbk(L"\u5173\u95ED.png")), std::string::npos)
        << "member names are stored in GBK";
}

TEST(win32_resource, unknown_resources_are_empty) {
    EXPECT_TRUE(platform::executable_resource("ZIPRES", 201).empty());
    EXPECT_TRUE(platform::executable_resource("OTHER", 200).empty());
    EXPECT_TRUE(platform::executable_resource("", 200).empty());
    EXPECT_TRUE(platform::executable_resource("ZIPRES", 0).empty());
    EXPECT_TRUE(platform::executable_resource("ZIPRES", 70000).empty());
}

TEST(win32_resource, manifest_asks_for_administrator_rights_and_common_controls_6) {
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
    ASSERT_NE(bytes, nullptr);
    const std::string manifest(bytes, ::SizeofResource(nullptr, found));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
}

}  // namespace
