// Packs the skin's twelve files into the zip archive that the executable
// carries, and writes it as a C++ source holding the bytes, or as the archive
// itself for a resource compiler when the output name ends in ".zip":
//   skin_pack SKIN_FOLDER OUTPUT.cpp|OUTPUT.zip
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "tools/skin_pack/zip_writer.h"

namespace {

// The members in archive order, as UTF-8 file names in the skin folder.
const char* const MEMBERS[] = {
    "UpdateWnd.xml", "感叹号.png", "关闭.png",          "取消.png", "确认.png",   "最小化.png",
    "bg1.png",       "bg2.png",    "HintUpdateWnd.xml", "Min.png",  "progbg.png", "progfg.png",
};

bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

std::string as_source(const std::vector<std::uint8_t>& archive) {
    std::string text =
        "// The skin archive (layouts and images), generated at build time by\n"
        "// skin_pack from the skin folder. Do not edit.\n"
        "#include <cstddef>\n#include <cstdint>\n\n"
        "namespace skin_data {\n\nextern const std::uint8_t SKIN_ARCHIVE[] = {";
    char number[8];
    for (std::size_t i = 0; i < archive.size(); ++i) {
        text += (i % 20 == 0) ? "\n    " : " ";
        std::snprintf(number, sizeof number, "%u,", archive[i]);
        text += number;
    }
    text += "\n};\nextern const std::size_t SKIN_ARCHIVE_SIZE = sizeof(SKIN_ARCHIVE);\n\n}  // namespace skin_data\n";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: skin_pack SKIN_FOLDER OUTPUT.cpp|OUTPUT.zip\n");
        return 2;
    }
    std::string folder = argv[1];
    if (!folder.empty() && folder.back() != '/') folder += '/';
    skin_pack::zip_writer writer;
    for (const char* member : MEMBERS) {
        std::vector<std::uint8_t> bytes;
        std::string stored = platform::wide_to_gbk(platform::utf8_to_wide(member));
        if (!read_file(folder + member, bytes) || bytes.empty()) {
            std::fprintf(stderr, "skin_pack: cannot read %s%s\n", folder.c_str(), member);
            return 1;
        }
        if (stored.empty() || !writer.add(stored, bytes)) {
            std::fprintf(stderr, "skin_pack: cannot pack %s\n", member);
            return 1;
        }
    }
    // Written beside the target and renamed, so a failed run leaves no half file.
    std::string temporary = std::string(argv[2]) + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const std::vector<std::uint8_t> archive = writer.finish();
    if (std::string_view(argv[2]).ends_with(".zip")) {
        out.write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));
    } else {
        out << as_source(archive);
    }
    out.close();
    std::error_code error;
    if (!out || (std::filesystem::rename(temporary, argv[2], error), error)) {
        std::fprintf(stderr, "skin_pack: cannot write %s\n", argv[2]);
        std::filesystem::remove(temporary, error);
        return 1;
    }
    return 0;
}
