// Tests of the font file lookup on Windows: the system's font folder, the
// registry's font list and the Chinese stand-ins. The run's Wine prefix has
// WenQuanYi Micro Hei in its Fonts folder and no Microsoft YaHei.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/font_lookup.h"
#include "platform/text.h"
#include "platform/win32/font_folder.h"
#include "win32_test_support.h"

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool file_exists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

struct face_case {
    const char* what;
    std::wstring face;
    bool bold;
};

TEST(win32_font_lookup, every_face_finds_an_installed_file) {
    const std::vector<face_case> cases = {
        {"the skin's face, not installed: a Chinese stand-in", L"微软雅黑", false},
        {"the same face in bold", L"微软雅黑", true},
        {"its English name", L"Microsoft YaHei", false},
        {"no name at all", L"", false},
        {"a face nobody has", L"No Such Face 12345", false},
    };
    for (const face_case& c : cases) {
        platform::font_file file;
        ASSERT_TRUE(platform::find_font_file(c.face, c.bold, false, file)) << c.what;
        EXPECT_TRUE(file_exists(file.path)) << c.what << ": " << file.path;
        EXPECT_GE(file.index, 0) << c.what;
    }
}

TEST(win32_font_lookup, stand_ins_begin_with_a_chinese_face) {
    platform::font_file main;
    ASSERT_TRUE(platform::find_font_file(L"微软雅黑", false, false, main));
    EXPECT_NE(lower(main.path).find("wqy-microhei.ttc"), std::string::npos) << main.path;
    const std::vector<platform::font_file> stand_ins = platform::fallback_font_files(L"Tahoma", false, false, U'更');
    ASSERT_FALSE(stand_ins.empty());
    EXPECT_NE(lower(stand_ins.front().path).find("wqy-microhei.ttc"), std::string::npos) << stand_ins.front().path;
    for (const platform::font_file& file : stand_ins) EXPECT_TRUE(file_exists(file.path)) << file.path;
}

// A face the registry lists in a collection: the name's position is the
// face's index in the file, and a full path in the entry is kept.
TEST(win32_font_lookup, registry_entries_name_the_file_and_the_face_index) {
    win32_test::temp_dir dir;
    const std::string path = dir.file("face.ttc");
    win32_test::write_file(path, "not read by the lookup");
    const std::wstring tag = std::to_wstring(::GetCurrentProcessId());
    const std::wstring first = L"Tamsa Face " + tag;
    const std::wstring second = L"Tamsa Face UI " + tag;
    const std::wstring value_name = first + L" & " + second + L" (TrueType)";
    const std::wstring data = platform::narrow_to_wide(path);
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 0,
                                nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key, value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    platform::font_file found_first;
    platform::font_file found_second;
    const bool first_ok = platform::find_font_file(first, false, false, found_first);
    const bool second_ok = platform::find_font_file(second, false, false, found_second);
    EXPECT_EQ(::RegDeleteValueW(key, value_name.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(::RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_TRUE(first_ok);
    ASSERT_TRUE(second_ok);
    EXPECT_EQ(lower(found_first.path), lower(path));
    EXPECT_EQ(found_first.index, 0);
    EXPECT_EQ(lower(found_second.path), lower(path));
    EXPECT_EQ(found_second.index, 1);
}

// A font folder without any face the lookup knows by name (a bare prefix,
// a trimmed system): any font file of the folder stands in, known faces
// first, other files never.
TEST(win32_font_lookup, a_folder_without_known_faces_offers_its_other_font_files) {
    platform::font_file real;
    ASSERT_TRUE(platform::find_font_file(L"WenQuanYi Micro Hei", false, false, real));
    win32_test::temp_dir dir;
    const std::wstring folder = platform::narrow_to_wide(dir.path());
    struct folder_case {
        const char* what;
        std::vector<std::string> fonts;   // copies of a real font under these names
        std::vector<std::string> others;  // files that are no fonts
        std::vector<std::string> expected;
    };
    const std::vector<folder_case> cases = {
        {"an empty folder", {}, {}, {}},
        {"no font files at all", {}, {"readme.txt", "ttf"}, {}},
        {"one unknown face", {"zz-face.ttc"}, {"readme.txt"}, {"zz-face.ttc"}},
        {"unknown faces in name order", {"Beta.OTF", "alpha.ttf"}, {}, {"alpha.ttf", "Beta.OTF"}},
        {"a known stand-in before the rest", {"aa-face.ttf", "simhei.ttf"}, {}, {"simhei.ttf", "aa-face.ttf"}},
    };
    for (const folder_case& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            std::filesystem::remove(entry, ignored);
        for (const std::string& name : c.fonts) {
            ASSERT_TRUE(::CopyFileA(real.path.c_str(), dir.file(name).c_str(), FALSE)) << name;
        }
        for (const std::string& name : c.others) win32_test::write_file(dir.file(name), "not a font");
        std::vector<std::string> listed;
        for (const platform::font_file& file : platform::fallback_font_files_in(folder, false)) {
            const std::size_t slash = file.path.find_last_of("\\/");
            listed.push_back(file.path.substr(slash + 1));
        }
        EXPECT_EQ(listed, c.expected);
        platform::font_file main;
        const bool found = platform::find_font_file_in(folder, L"\u5FAE\u8F6F\u96C5\u9ED1", false, main);
        EXPECT_EQ(found, !c.expected.empty());
        if (found) {
            EXPECT_EQ(lower(main.path), lower(dir.file(c.expected.front())));
        }
    }
}

}  // namespace
