// The window base on the off-screen display: creation and skin sources,
// the caption band's hit test, activation, the system close command,
// minimum and maximum info, maximising, round corners, and the error box
// with exit code 1 when a layout cannot be built.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/text_utils.h"
#include "platform/text.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/windows/window_test_support.h"
#include "toolkit/message_box.h"

namespace {

using namespace window_test;
using platform::rect;

// A layout with a link and buttons in its caption band, the maximise and
// restore buttons, limits and round corners; held as resource "xml" 31.
const char TEST_LAYOUT[] =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<Window size=\"300,200\" caption=\"0,0,0,40\" mininfo=\"200,100\" maxinfo=\"900,700\" roundcorner=\"6,6\">"
    "<VerticalLayout name=\"root\"><HorizontalLayout height=\"40\">"
    "<Label text=\"t\" width=\"50\"/><Text name=\"link\" text=\"{a}x{/a}\" showhtml=\"true\" width=\"50\"/>"
    "<Control/><Button name=\"maxbtn\" width=\"20\"/><Button name=\"restorebtn\" width=\"20\" visible=\"false\"/>"
    "</HorizontalLayout><Control/></VerticalLayout></Window>";
constexpr int TEST_LAYOUT_ID = 31;
constexpr int MISSING_ARCHIVE_ID = 201;

std::span<const std::uint8_t> test_resources(std::string_view type, int id) {
    if (type == "xml" && id == TEST_LAYOUT_ID) {
        return {reinterpret_cast<const std::uint8_t*>(TEST_LAYOUT), sizeof TEST_LAYOUT - 1};
    }
    return find_resource(type, id);
}

class test_dialog final : public dlg_base {
public:
    test_dialog(skin_source source, std::wstring file, string_or_id id = {}, std::wstring folder = L"",
                std::wstring zip = L"")
        : source_(source),
          file_(std::move(file)),
          id_(std::move(id)),
          folder_(std::move(folder)),
          zip_(std::move(zip)) {}
    std::wstring window_class_name() const override { return L"TestDialogWnd"; }
    std::wstring skin_file() const override { return file_; }
    std::wstring skin_folder() const override { return folder_; }
    skin_source skin_source_type() const override { return source_; }
    string_or_id resource_id() const override { return id_; }
    std::wstring zip_file_name() const override { return zip_; }
    void init_window() override { ++inits; }

    platform::window_handle make(platform::window_handle owner = 0) {
        create(owner, L"test", 0x10CF0000, 0);
        return handle();
    }
    int inits = 0;

private:
    skin_source source_;
    std::wstring file_;
    string_or_id id_;
    std::wstring folder_;
    std::wstring zip_;
};

class dlg_base_test : public ::testing::Test {
protected:
    void SetUp() override {
        reset_environment();
        skinui::paint_manager::set_resource_module(&test_resources);
        skinui::clear_resource_zip();
        skinui::set_resource_path(L"");
    }
    void TearDown() override {
        for (platform::window_handle w : made_) platform::destroy_window(w);
        skinui::clear_resource_zip();
        skinui::set_resource_path(L"");
        reset_environment();
    }
    platform::window_handle keep(platform::window_handle w) {
        if (w != 0) made_.push_back(w);
        return w;
    }
    std::vector<platform::window_handle> made_;
};

TEST_F(dlg_base_test, creation_strips_the_caption_and_takes_the_layout_size_from_the_archive_resource) {
    test_dialog dialog(skin_source::zip_resource, L"HintUpdateWnd.xml", string_or_id::from_id(200));
    const platform::window_handle h = keep(dialog.make());
    ASSERT_NE(h, 0u);
    EXPECT_EQ(platform::window_style(h), 0x160F0080u) << "WS_CAPTION cleared, clipping bits and 0x80 set";
    EXPECT_EQ(platform::window_rect(h), (rect{0, 0, 412, 200}));
    ASSERT_NE(dialog.paint_manager.root(), nullptr);
    EXPECT_EQ(dialog.inits, 1);
    const std::span<const std::uint8_t> archive = find_resource("ZIPRES", 200);
    ASSERT_NE(g_skin_zip_buffer, nullptr);
    EXPECT_EQ(std::memcmp(g_skin_zip_buffer, archive.data(), archive.size()), 0);
    EXPECT_NE(g_skin_zip_buffer, archive.data()) << "a heap copy";

    const std::uint8_t* first_copy = g_skin_zip_buffer;
    test_dialog second(skin_source::zip_resource, L"UpdateWnd.xml", string_or_id::from_id(200));
    keep(second.make());
    EXPECT_NE(second.paint_manager.find_control(L"progress"), nullptr);
    EXPECT_EQ(g_skin_zip_buffer, first_copy) << "the toolkit keeps reading the first archive";
}

TEST_F(dlg_base_test, a_missing_archive_resource_leaves_an_empty_window_and_a_log_line) {
    test_support::temp_dir dir;
    test_support::stderr_capture log(dir.file("log.txt"));
    test_dialog dialog(skin_source::zip_resource, L"HintUpdateWnd.xml", string_or_id::from_id(MISSING_ARCHIVE_ID));
    const platform::window_handle h = keep(dialog.make());
    log.restore();
    EXPECT_NE(h, 0u);
    EXPECT_EQ(dialog.paint_manager.root(), nullptr);
    EXPECT_EQ(dialog.inits, 0);
    EXPECT_NE(log.text().find("skin resource ZIPRES 201 not found"), std::string::npos) << log.text();
}

TEST_F(dlg_base_test, skin_files_come_from_the_folder_a_zip_file_or_an_xml_resource) {
    const std::string exe_dir = module_dir();
    ASSERT_FALSE(exe_dir.empty());
    const std::filesystem::path folder = std::filesystem::path(exe_dir) / "skin_folder_case";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(std::string(TOOLKIT_SKIN_DIR) + "HintUpdateWnd.xml", folder / "HintUpdateWnd.xml",
                               std::filesystem::copy_options::overwrite_existing);
    const std::span<const std::uint8_t> archive = find_resource("ZIPRES", 200);
    std::ofstream(folder / "skin.zip", std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()), static_cast<std::streamsize>(archive.size()));

    {
        // No resource path yet: the program's directory plus the skin folder.
        test_dialog dialog(skin_source::files, L"HintUpdateWnd.xml", {}, L"skin_folder_case");
        keep(dialog.make());
        EXPECT_NE(dialog.paint_manager.find_control(L"okbtn"), nullptr) << "from the folder";
        EXPECT_EQ(skinui::resource_path(), platform::narrow_to_wide(folder.string()) + L"/");
    }
    {
        test_dialog dialog(skin_source::zip_file, L"UpdateWnd.xml", {}, L"", L"skin.zip");
        keep(dialog.make());
        EXPECT_NE(dialog.paint_manager.find_control(L"progress"), nullptr) << "from the zip file";
    }
    skinui::clear_resource_zip();
    {
        test_dialog dialog(skin_source::xml_resource, std::to_wstring(TEST_LAYOUT_ID));
        keep(dialog.make());
        EXPECT_NE(dialog.paint_manager.find_control(L"maxbtn"), nullptr) << "from the xml resource";
    }
    std::filesystem::remove_all(folder);
}

struct hit_case {
    const char* name;
    platform::point client;
    int expected;
};

TEST_F(dlg_base_test, the_caption_band_drags_except_over_buttons_and_text_links) {
    test_dialog dialog(skin_source::xml_resource, std::to_wstring(TEST_LAYOUT_ID));
    const platform::window_handle h = keep(dialog.make());
    platform::move_window(h, 100, 60, 300, 200);
    platform::show_window(h, platform::SW_SHOWNORMAL);
    settle();
    // Row: label 0-50, link 50-100, spacer 100-280, maxbtn 280-300.
    const hit_case cases[] = {
        {"label", {10, 10}, platform::HTCAPTION},
        {"text link", {75, 10}, platform::HTCLIENT},
        {"spacer", {150, 10}, platform::HTCAPTION},
        {"button", {290, 10}, platform::HTCLIENT},
        {"last row of the band", {150, 39}, platform::HTCAPTION},
        {"below the band", {150, 40}, platform::HTCLIENT},
        {"outside the window", {-5, 10}, platform::HTCLIENT},
    };
    for (const hit_case& c : cases) {
        const platform::lparam screen = platform::make_point_lparam(c.client.x + 100, c.client.y + 60);
        EXPECT_EQ(dialog.send_message(platform::WM_NCHITTEST, 0, screen), c.expected) << c.name;
    }
    // Left and right insets of the band.
    dialog.paint_manager.set_window_attribute(L"caption", L"10,0,30,40");
    const hit_case inset_cases[] = {
        {"left of the band", {5, 10}, platform::HTCLIENT},
        {"band's left edge", {10, 10}, platform::HTCAPTION},
        {"band's right edge", {269, 10}, platform::HTCAPTION},
        {"right of the band", {270, 10}, platform::HTCLIENT},
    };
    for (const hit_case& c : inset_cases) {
        const platform::lparam screen = platform::make_point_lparam(c.client.x + 100, c.client.y + 60);
        EXPECT_EQ(dialog.send_message(platform::WM_NCHITTEST, 0, screen), c.expected) << c.name;
    }
}

TEST_F(dlg_base_test, activation_answers_and_the_system_close_command_ends_the_loops_only) {
    test_dialog dialog(skin_source::zip_resource, L"HintUpdateWnd.xml", string_or_id::from_id(200));
    const platform::window_handle h = keep(dialog.make());
    platform::show_window(h, platform::SW_SHOWNORMAL);
    EXPECT_EQ(dialog.send_message(platform::WM_NCACTIVATE, 0, 0), 1);
    EXPECT_EQ(dialog.send_message(platform::WM_NCACTIVATE, 1, 0), 0);
    platform::show_window(h, platform::SW_MINIMIZE);
    EXPECT_EQ(dialog.send_message(platform::WM_NCACTIVATE, 1, 0), 1) << "minimised: the default handling";
    platform::show_window(h, platform::SW_SHOWNORMAL);
    settle();

    EXPECT_EQ(dialog.send_message(platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0), 0);
    EXPECT_TRUE(quit_queued());
    EXPECT_TRUE(platform::is_window(h));
    EXPECT_TRUE(platform::is_window_visible(h)) << "the window is neither closed nor hidden";
}

// A WM_CLOSE from outside ends the loops as the close command does; the
// window is not destroyed under a loop that would then never end.
TEST_F(dlg_base_test, a_close_message_ends_the_loops_and_keeps_the_window) {
    test_dialog dialog(skin_source::zip_resource, L"HintUpdateWnd.xml", string_or_id::from_id(200));
    const platform::window_handle h = keep(dialog.make());
    platform::show_window(h, platform::SW_SHOWNORMAL);
    settle();
    EXPECT_EQ(dialog.send_message(platform::WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(quit_queued());
    EXPECT_TRUE(platform::is_window(h));
}

struct minmax_case {
    const char* name;
    rect monitor;
    rect work;
    bool test_layout;  // else the hint window's layout
    platform::minmax_info expected;
};

TEST_F(dlg_base_test, min_max_info_gives_the_work_area_and_the_layout_limits) {
    const minmax_case cases[] = {
        {"work area below a panel",
         {0, 0, 1280, 800},
         {0, 30, 1280, 800},
         false,
         {{}, {1280, 770}, {0, 30}, {412, 200}, {7, 7}}},
        {"second monitor",
         {1280, 0, 2560, 1024},
         {1280, 0, 2560, 984},
         false,
         {{}, {1280, 984}, {0, 0}, {412, 200}, {7, 7}}},
        {"mininfo and maxinfo",
         {0, 0, 1280, 800},
         {0, 0, 1280, 800},
         true,
         {{}, {1280, 800}, {0, 0}, {200, 100}, {900, 700}}},
    };
    for (const minmax_case& c : cases) {
        platform::set_offscreen_monitor(c.monitor, c.work);
        test_dialog hint(skin_source::zip_resource, L"HintUpdateWnd.xml", string_or_id::from_id(200));
        test_dialog custom(skin_source::xml_resource, std::to_wstring(TEST_LAYOUT_ID));
        test_dialog& dialog = c.test_layout ? custom : hint;
        keep(dialog.make());
        platform::minmax_info info;
        info.max_track_size = {7, 7};  // what the system would have put there
        dialog.send_message(platform::WM_GETMINMAXINFO, 0, reinterpret_cast<platform::lparam>(&info));
        EXPECT_EQ(info.max_size, c.expected.max_size) << c.name;
        EXPECT_EQ(info.max_position, c.expected.max_position) << c.name;
        EXPECT_EQ(info.min_track_size, c.expected.min_track_size) << c.name;
        EXPECT_EQ(info.max_track_size, c.expected.max_track_size) << c.name;
    }
}

TEST_F(dlg_base_test, a_double_click_on_the_band_maximises_to_the_work_area_and_swaps_the_buttons) {
    platform::set_offscreen_monitor({0, 0, 1280, 800}, {0, 30, 1280, 800});
    test_dialog dialog(skin_source::xml_resource, std::to_wstring(TEST_LAYOUT_ID));
    const platform::window_handle h = keep(dialog.make());
    platform::move_window(h, 100, 100, 300, 200);
    platform::show_window(h, platform::SW_SHOWNORMAL);
    settle();
    skinui::control* max_button = dialog.paint_manager.find_control(L"maxbtn");
    skinui::control* restore_button = dialog.paint_manager.find_control(L"restorebtn");

    dialog.send_message(platform::WM_NCLBUTTONDBLCLK, platform::HTCAPTION, platform::make_point_lparam(250, 110));
    settle();
    EXPECT_TRUE(platform::is_maximized(h));
    EXPECT_EQ(platform::window_rect(h), (rect{0, 30, 1280, 800}));
    EXPECT_EQ(dialog.paint_manager.root()->pos(), (rect{0, 0, 1280, 770})) << "the layout follows the new size";
    EXPECT_FALSE(max_button->is_visible());
    EXPECT_TRUE(restore_button->is_visible());
    platform::offscreen_window_state state;
    platform::offscreen_window_info(h, state);
    EXPECT_EQ(state.round_corner, (platform::size{6, 6}));

    dialog.send_message(platform::WM_NCLBUTTONDBLCLK, platform::HTCAPTION, platform::make_point_lparam(250, 40));
    settle();
    EXPECT_FALSE(platform::is_maximized(h));
    EXPECT_EQ(platform::window_rect(h), (rect{100, 100, 400, 300}));
    EXPECT_TRUE(max_button->is_visible());
    EXPECT_FALSE(restore_button->is_visible());

    test_dialog hint(skin_source::zip_resource, L"HintUpdateWnd.xml", string_or_id::from_id(200));
    const platform::window_handle hint_handle = keep(hint.make());
    hint.send_message(platform::WM_SYSCOMMAND, platform::SC_MAXIMIZE, 0);
    platform::offscreen_window_info(hint_handle, state);
    EXPECT_EQ(state.round_corner, (platform::size{0, 0})) << "no layout of the skin sets round corners";

    dialog.send_message(platform::WM_NCLBUTTONDOWN, platform::HTCAPTION, platform::make_point_lparam(150, 110));
    platform::offscreen_window_info(h, state);
    EXPECT_EQ(state.drag_count, 1) << "pressing the band starts the window manager's move";
}

// In a child process: the layout cannot be built, the error box opens (its
// caption and text are written to standard error by the step that answers
// it) and the process ends with exit code 1.
void open_window_with_missing_layout() {
    reset_environment();
    modal_script::script script;
    script.later([] {
        const platform::window_handle box = skinui::current_message_box();
        std::fprintf(stderr, "box [%s] [%s]\n", platform::wide_to_utf8(platform::window_text(box)).c_str(),
                     platform::wide_to_utf8(skinui::message_box_text(box)).c_str());
        modal_script::box_key(platform::VK_RETURN);
    });
    test_dialog dialog(skin_source::zip_resource, L"NoSuchLayout.xml", string_or_id::from_id(200));
    dialog.make();
    std::fprintf(stderr, "still running\n");
    std::_Exit(0);
}

TEST(dlg_base_death_test, a_layout_that_cannot_be_built_shows_the_error_box_and_exits_with_1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(open_window_with_missing_layout(), ::testing::ExitedWithCode(1),
                "box \\[SkinUI\\] \\[加载资源文件失败\\]");
}

}  // namespace
