// Random mutations of both real layouts: the parser, the builder, the box
// layout and painting must survive every one of them (deterministic seeds).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/text.h"
#include "tests/support/files.h"
#include "toolkit/control.h"
#include "toolkit/layout_builder.h"
#include "toolkit/markup.h"
#include "toolkit/paint_manager.h"
#include "toolkit/skin_resources.h"

namespace {

namespace fs = std::filesystem;
using namespace skinui;

// Numbers at the edges of what the parsers and the layout arithmetic hold.
const char* const EXTREME_NUMBERS[] = {
    "-1073741824", "1073741824", "2147483647", "-2147483648", "4294967296", "99999999999999999999",
    "-1",          "0",          "1001000",    "-1000001",    "536870912"};

// Replaces the first number at or after at with an extreme one; false when
// the text has no digit there.
bool replace_number(std::string& text, std::size_t at, std::mt19937& random) {
    const std::size_t first = text.find_first_of("0123456789", at);
    if (first == std::string::npos) return false;
    std::size_t start = first;
    if (start > 0 && text[start - 1] == '-') --start;
    const std::size_t end = text.find_first_not_of("0123456789", first);
    const std::size_t length = (end == std::string::npos ? text.size() : end) - start;
    text.replace(start, length, EXTREME_NUMBERS[random() % std::size(EXTREME_NUMBERS)]);
    return true;
}

// One random edit: a changed, removed, inserted or duplicated stretch, a cut,
// or a number pushed to an extreme.
void mutate(std::string& text, std::mt19937& random) {
    static const char SPECIAL[] = "<>/\"'=&;!?-#, \r\n0123456789aZ";
    if (text.empty()) {
        text.push_back('<');
        return;
    }
    std::uniform_int_distribution<std::size_t> where(0, text.size() - 1);
    const std::size_t at = where(random);
    const std::size_t length = std::min<std::size_t>(text.size() - at, 1 + random() % 16);
    switch (random() % 8) {
        case 0:
            text[at] = static_cast<char>(random());
            break;
        case 1:
            text[at] = SPECIAL[random() % (sizeof SPECIAL - 1)];
            break;
        case 2:
            text.erase(at, length);
            break;
        case 3:
            text.insert(at, 1, SPECIAL[random() % (sizeof SPECIAL - 1)]);
            break;
        case 4:
            text.insert(at, text.substr(where(random), length));
            break;
        case 5:
        case 6:
            if (!replace_number(text, at, random)) text.resize(at);
            break;
        default:
            text.resize(at);
    }
}

// A skin folder of its own: the images of the skin and one mutated layout.
class markup_fuzz : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("markup_fuzz_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        for (const auto& entry : fs::directory_iterator(TOOLKIT_SKIN_DIR)) {
            if (entry.path().extension() == ".png") fs::copy_file(entry.path(), dir_ / entry.path().filename());
        }
        clear_resource_zip();
        set_resource_path(dir_.wstring() + L"/");
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write_layout(const std::string& bytes) {
        std::ofstream out(dir_ / "mutated.xml", std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    fs::path dir_;
};

TEST_P(markup_fuzz, mutated_layouts_never_crash) {
    const std::string original = test_support::read_file(fs::path(TOOLKIT_SKIN_DIR) / GetParam());
    ASSERT_FALSE(original.empty()) << "cannot read " << GetParam();
    std::mt19937 random(20180 + static_cast<unsigned>(original.size()));
    int built = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string text = original;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < edits; ++i) mutate(text, random);

        markup doc;
        if (!doc.load_utf8(text)) {
            EXPECT_FALSE(doc.last_error_message().empty()) << "round " << round;
            EXPECT_LE(doc.last_error_message().size(), 99u);
            EXPECT_LE(doc.last_error_location().size(), 49u);
        }
        // Mostly built from the text itself; every 50th copy through a skin file.
        paint_manager manager;
        layout_builder builder;
        std::unique_ptr<control> root;
        if (round % 50 == 0) {
            write_layout(text);
            root = builder.create(L"mutated.xml", manager);
        } else {
            const std::string_view body = std::string_view(text).starts_with("\xEF\xBB\xBF")
                                              ? std::string_view(text).substr(3)
                                              : std::string_view(text);
            const std::wstring wide = platform::utf8_to_wide(body);
            if (!wide.empty() && wide.front() == L'<') root = builder.create(wide, manager);
        }
        if (!root) continue;
        ++built;
        control* top = root.get();
        manager.attach_dialog(std::move(root));
        top->set_pos({0, 0, 586, 280}, false);
        if (round % 8 != 0) continue;  // painting every copy would only repeat itself
        surface bits;
        bits.resize(586, 280);
        paint_target target{bits, bits.bounds()};
        top->paint(target, bits.bounds());
    }
    EXPECT_GT(built, 0) << "no mutated copy was usable; the mutations are too coarse to test the builder";
}

INSTANTIATE_TEST_SUITE_P(layouts, markup_fuzz, ::testing::Values("HintUpdateWnd.xml", "UpdateWnd.xml"));

}  // namespace
