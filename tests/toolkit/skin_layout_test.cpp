// The two layouts of the skin, built from the linked-in archive and laid out
// at their window sizes: the window attributes, the control tree and the
// rectangle every control gets.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "skin/resource_table.h"
#include "toolkit/container.h"
#include "toolkit/control.h"
#include "toolkit/layout_builder.h"
#include "toolkit/paint_manager.h"
#include "toolkit/skin_resources.h"

// A private PNG decoder to read the expected pixels from the archive.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

using platform::rect;

struct node_case {
    const char* node;  // depth-first number, "1" is the root
    const wchar_t* class_name;
    const wchar_t* name;
    rect expected;
};

std::string show(const rect& r) {
    std::ostringstream out;
    out << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    return out.str();
}

// The control at a node number such as "1.3.2", or null.
skinui::control* at_node(skinui::control* root, const std::string& node) {
    std::istringstream parts(node);
    std::string part;
    std::getline(parts, part, '.');  // the root's "1"
    skinui::control* current = root;
    while (current && std::getline(parts, part, '.')) {
        skinui::container* box = current->as_container();
        std::size_t index = static_cast<std::size_t>(std::stoi(part)) - 1;
        current = (box && index < box->count()) ? box->child_at(index) : nullptr;
    }
    return current;
}

class skin_layout : public ::testing::Test {
protected:
    void SetUp() override {
        skinui::clear_resource_zip();
        auto archive = find_resource("ZIPRES", 200);
        ASSERT_FALSE(archive.empty());
        skinui::set_resource_zip(archive.data(), archive.size());
    }
    void TearDown() override { skinui::clear_resource_zip(); }

    // Builds the layout and lays it out in a client area of the layout's size.
    skinui::control* build(const wchar_t* file) {
        skinui::layout_builder builder;
        std::unique_ptr<skinui::control> root = builder.create(file, manager_);
        EXPECT_TRUE(root) << platform::wide_to_utf8(builder.last_error());
        if (!root) return nullptr;
        skinui::control* tree = root.get();
        EXPECT_TRUE(manager_.attach_dialog(std::move(root)));
        platform::size size = manager_.initial_size();
        tree->set_pos({0, 0, size.cx, size.cy}, false);
        return tree;
    }

    void check(skinui::control* root, const std::vector<node_case>& cases) {
        for (const node_case& c : cases) {
            skinui::control* control = at_node(root, c.node);
            ASSERT_NE(control, nullptr) << "no control at node " << c.node;
            EXPECT_EQ(platform::wide_to_utf8(control->class_name()), platform::wide_to_utf8(c.class_name))
                << "node " << c.node;
            EXPECT_EQ(platform::wide_to_utf8(control->name()), platform::wide_to_utf8(c.name)) << "node " << c.node;
            EXPECT_EQ(show(control->pos()), show(c.expected)) << "node " << c.node;
            if (*c.name) {
                EXPECT_EQ(manager_.find_control(c.name), control) << "name " << c.node;
            }
        }
    }

    // Paints the laid-out tree as the window does: opaque black, then the tree.
    skinui::surface paint(skinui::control* root) {
        skinui::surface image;
        image.resize(root->pos().width(), root->pos().height());
        for (skinui::pixel& p : image.pixels) p = 0xFF000000;
        skinui::paint_target target{image, image.bounds()};
        root->paint(target, image.bounds());
        return image;
    }

    // Every fully opaque pixel of the image inside the given part of it must
    // appear unchanged at origin + (x, y) in the painted window.
    void expect_image_drawn(const skinui::surface& painted, const char* utf8_name, platform::point origin,
                            rect part = {0, 0, 0, 0}) {
        std::vector<std::uint8_t> png;
        std::string error;
        ASSERT_TRUE(skinui::load_skin_file(platform::utf8_to_wide(utf8_name), png, error))
            << utf8_name << ": " << error;
        int w = 0, h = 0, channels = 0;
        stbi_uc* rgba = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &channels, 4);
        ASSERT_NE(rgba, nullptr) << utf8_name;
        if (part.right == 0) part = {0, 0, w, h};
        int checked = 0, wrong = 0;
        for (int y = part.top; y < part.bottom; ++y) {
            for (int x = part.left; x < part.right; ++x) {
                const stbi_uc* p = rgba + (static_cast<std::size_t>(y) * w + x) * 4;
                if (p[3] != 255) continue;
                skinui::pixel expected = 0xFF000000u | (p[0] << 16) | (p[1] << 8) | p[2];
                skinui::pixel got = painted.at(origin.x + x, origin.y + y);
                ++checked;
                if (got != expected && wrong++ < 3) {
                    ADD_FAILURE() << utf8_name << " pixel " << x << "," << y << ": got " << std::hex << got
                                  << " expected " << expected;
                }
            }
        }
        stbi_image_free(rgba);
        EXPECT_GT(checked, 0) << utf8_name << " has no opaque pixel in the checked part";
        EXPECT_EQ(wrong, 0) << utf8_name << ": " << wrong << " of " << checked << " opaque pixels differ";
    }

    skinui::paint_manager manager_;
};

TEST_F(skin_layout, hint_window) {
    skinui::control* root = build(L"HintUpdateWnd.xml");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(manager_.initial_size().cx, 412);
    EXPECT_EQ(manager_.initial_size().cy, 200);
    EXPECT_EQ(show(manager_.caption_rect()), "0,0,0,28");
    EXPECT_EQ(manager_.min_info().cx, 412);
    EXPECT_EQ(manager_.min_info().cy, 200);
    check(root, {
                    {"1", L"VerticalLayout", L"", {0, 0, 412, 200}},
                    {"1.1", L"HorizontalLayout", L"", {0, 10, 412, 30}},
                    {"1.1.1", L"Label", L"", {20, 10, 201, 30}},
                    {"1.1.3", L"Button", L"closebtn", {383, 10, 397, 24}},
                    {"1.2", L"Control", L"", {0, 30, 412, 76}},
                    {"1.3", L"HorizontalLayout", L"", {0, 76, 412, 92}},
                    {"1.3.2", L"Control", L"", {31, 76, 47, 92}},
                    {"1.3.4", L"Label", L"", {50, 76, 380, 92}},
                    {"1.4", L"Control", L"", {0, 92, 412, 138}},
                    {"1.5", L"HorizontalLayout", L"", {0, 138, 412, 170}},
                    {"1.5.2", L"Button", L"okbtn", {105, 138, 201, 170}},
                    {"1.5.4", L"Button", L"cancelbtn", {211, 138, 307, 170}},
                });
    EXPECT_EQ(root->as_container()->count(), 5u);
}

// The images come out of the archive by their GBK names and are painted at
// their controls' places (the rows below the buttons show only background).
TEST_F(skin_layout, hint_window_paints_the_archive_images) {
    skinui::control* root = build(L"HintUpdateWnd.xml");
    ASSERT_NE(root, nullptr);
    skinui::surface painted = paint(root);
    expect_image_drawn(painted, "bg1.png", {0, 0}, {0, 172, 412, 200});
    expect_image_drawn(painted, "关闭.png", {383, 10});
    expect_image_drawn(painted, "感叹号.png", {31, 76});
    expect_image_drawn(painted, "确认.png", {105, 138});
    expect_image_drawn(painted, "取消.png", {211, 138});
}

TEST_F(skin_layout, update_window) {
    skinui::control* root = build(L"UpdateWnd.xml");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(manager_.initial_size().cx, 586);
    EXPECT_EQ(manager_.initial_size().cy, 280);
    EXPECT_EQ(show(manager_.caption_rect()), "0,0,0,28");
    EXPECT_EQ(manager_.link_color(), 0xFF14b9d6u);
    check(root, {
                    {"1", L"VerticalLayout", L"", {0, 0, 586, 280}},
                    {"1.1", L"Progress", L"progress", {46, 139, 544, 153}},
                    {"1.2", L"Label", L"", {225, 85, 385, 103}},
                    {"1.3", L"VerticalLayout", L"", {0, 0, 586, 30}},
                    {"1.3.1", L"HorizontalLayout", L"", {20, 5, 571, 25}},
                    {"1.3.1.1", L"Label", L"title", {20, 9, 170, 25}},
                    {"1.3.1.3", L"Button", L"minbtn", {528, 9, 542, 23}},
                    {"1.3.1.5", L"Button", L"closebtn", {557, 9, 571, 23}},
                    {"1.4", L"Control", L"", {0, 30, 586, 204}},
                    {"1.5", L"HorizontalLayout", L"", {0, 204, 586, 230}},
                    {"1.5.2", L"Label", L"", {163, 204, 267, 230}},
                    {"1.5.3", L"Text", L"downloadbtn", {267, 204, 323, 230}},
                    {"1.5.4", L"Label", L"", {323, 204, 423, 230}},
                });
    EXPECT_EQ(root->as_container()->count(), 5u);
}

// The bar's track shows right of the initial 4 px of fill (value 1 of 100).
TEST_F(skin_layout, update_window_paints_the_archive_images) {
    skinui::control* root = build(L"UpdateWnd.xml");
    ASSERT_NE(root, nullptr);
    skinui::surface painted = paint(root);
    expect_image_drawn(painted, "bg2.png", {0, 0}, {0, 232, 586, 280});
    expect_image_drawn(painted, "最小化.png", {528, 9});
    expect_image_drawn(painted, "关闭.png", {557, 9});
    expect_image_drawn(painted, "progbg.png", {46, 139}, {4, 0, 498, 14});
}

}  // namespace
