// The layout builder: control classes from element names, attributes in
// file order, value syntax, fonts, window attributes and default lists.
#include "toolkit/layout_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/text.h"
#include "tests/support/print.h"
#include "toolkit/attribute_values.h"
#include "toolkit/button.h"
#include "toolkit/container.h"
#include "toolkit/font_table.h"
#include "toolkit/label.h"
#include "toolkit/paint_manager.h"
#include "toolkit/progress.h"
#include "toolkit/skin_resources.h"

namespace {

using namespace skinui;

std::string narrow(std::wstring_view text) {
    return platform::wide_to_utf8(text);
}

// Builds a layout into a manager without a window and attaches it.
struct built_layout {
    paint_manager manager;
    layout_builder builder;
    control* root = nullptr;

    explicit built_layout(std::wstring_view text) {
        auto made = builder.create(text, manager);
        root = made.get();
        if (made) manager.attach_dialog(std::move(made));
    }
    control* named(std::wstring_view name) const { return manager.find_control(name); }
};

TEST(layout_builder, element_names_ignore_case_and_name_their_classes) {
    built_layout layout(
        L"<window><verticallayout name=\"v\"><HORIZONTALLAYOUT name=\"h\"><control name=\"c\"/>"
        L"<lAbEl name=\"l\"/><button name=\"b\"/><text name=\"t\"/><progress name=\"p\"/></HORIZONTALLAYOUT>"
        L"</verticallayout></window>");
    ASSERT_NE(layout.root, nullptr) << narrow(layout.builder.last_error());
    const std::pair<std::wstring_view, std::wstring_view> expected[] = {
        {L"v", L"VerticalLayout"}, {L"h", L"HorizontalLayout"}, {L"c", L"Control"}, {L"l", L"Label"}, {L"b", L"Button"},
        {L"t", L"Text"},           {L"p", L"Progress"},
    };
    for (const auto& [name, class_name] : expected) {
        control* found = layout.named(name);
        ASSERT_NE(found, nullptr) << narrow(name);
        EXPECT_EQ(found->class_name(), class_name) << narrow(name);
    }
    EXPECT_EQ(layout.root, layout.named(L"v"));
    EXPECT_EQ(layout.named(L"c")->parent(), layout.named(L"h"));
}

TEST(layout_builder, attribute_names_and_true_are_case_sensitive) {
    built_layout layout(
        L"<Window><VerticalLayout><Label name=\"l\" Text=\"x\" visible=\"True\" float=\"TRUE\"/>"
        L"<Button name=\"b\" enabled=\"false\" keyboard=\"yes\"/></VerticalLayout></Window>");
    ASSERT_NE(layout.root, nullptr);
    control* l = layout.named(L"l");
    EXPECT_EQ(l->text(), L"");
    EXPECT_EQ(l->custom_attribute(L"Text"), L"x");
    EXPECT_FALSE(l->is_visible()) << "only \"true\" is true";
    EXPECT_FALSE(l->is_float());
    control* b = layout.named(L"b");
    EXPECT_FALSE(b->is_enabled());
    EXPECT_FALSE(b->is_keyboard_enabled());
    EXPECT_TRUE(b->is_mouse_enabled());
}

TEST(layout_builder, attributes_apply_in_file_order) {
    struct order_case {
        std::wstring attributes;
        platform::point xy;
        int width;
        int height;
    };
    const order_case cases[] = {
        {L"pos=\"46,139,0,0\" width=\"498\" height=\"14\"", {46, 139}, 498, 14},
        {L"width=\"498\" height=\"14\" pos=\"46,139,50,150\"", {46, 139}, 4, 11},
        {L"width=\"498\" height=\"14\" pos=\"46,139,0,0\"", {46, 139}, 498, 14},
        {L"width=\"10\" width=\"-3\"", {0, 0}, 10, 0},
        {L"height=\"8\" pos=\"1,2,0,12\"", {1, 2}, 0, 10},
    };
    for (const order_case& c : cases) {
        built_layout layout(L"<Window><VerticalLayout><Control name=\"c\" float=\"true\" " + c.attributes +
                            L"/></VerticalLayout></Window>");
        ASSERT_NE(layout.root, nullptr);
        control* target = layout.named(L"c");
        EXPECT_TRUE(target->is_float());
        EXPECT_EQ(target->fixed_xy(), c.xy) << narrow(c.attributes);
        EXPECT_EQ(target->fixed_width(), c.width) << narrow(c.attributes);
        EXPECT_EQ(target->fixed_height(), c.height) << narrow(c.attributes);
    }
}

TEST(layout_builder, control_properties_have_their_defaults) {
    built_layout layout(
        L"<Window><VerticalLayout><Control name=\"c\"/><Label name=\"l\"/><Text name=\"t\"/>"
        L"<Progress name=\"p\"/></VerticalLayout></Window>");
    ASSERT_NE(layout.root, nullptr);
    control* c = layout.named(L"c");
    EXPECT_TRUE(c->is_visible() && c->is_enabled() && c->is_mouse_enabled() && c->is_keyboard_enabled());
    EXPECT_EQ(c->max_width(), 9999);
    EXPECT_EQ(c->max_height(), 9999);
    auto* l = static_cast<label*>(layout.named(L"l"));
    EXPECT_EQ(l->font(), -1);
    EXPECT_EQ(l->text_color(), 0u);
    EXPECT_EQ(l->text_style(), DT_SINGLELINE | DT_VCENTER);
    auto* t = static_cast<label*>(layout.named(L"t"));
    EXPECT_EQ(t->text_padding(), (platform::rect{2, 0, 2, 0}));
    EXPECT_EQ(t->text_style(), DT_WORDBREAK);
    auto* p = static_cast<progress*>(layout.named(L"p"));
    EXPECT_EQ(p->fixed_height(), 12);
    EXPECT_EQ(p->min_value(), 0);
    EXPECT_EQ(p->max_value(), 100);
    EXPECT_EQ(p->value(), 0);
    EXPECT_TRUE(p->is_horizontal());
    EXPECT_EQ(p->text_style(), DT_SINGLELINE | DT_CENTER);
}

TEST(layout_builder, label_and_progress_attributes) {
    built_layout layout(
        L"<Window><VerticalLayout>"
        L"<Label name=\"a\" font=\"3\" textcolor=\"#FFb3baca\" align=\"right\" textpadding=\"2,2,2,0\" "
        L"showhtml=\"true\"/>"
        L"<Label name=\"b\" align=\"left center\" valign=\"bottom\"/>"
        L"<Label name=\"c\" align=\"right left\" valign=\"vcenter top\"/>"
        L"<Progress name=\"p\" max=\"50\" value=\"80\" hor=\"false\" min=\"60\"/>"
        L"<Progress name=\"q\" value=\"-5\"/>"
        L"</VerticalLayout></Window>");
    ASSERT_NE(layout.root, nullptr);
    auto* a = static_cast<label*>(layout.named(L"a"));
    EXPECT_EQ(a->font(), 3);
    EXPECT_EQ(a->text_color(), 0xFFB3BACAu);
    EXPECT_EQ(a->text_style(), DT_SINGLELINE | DT_VCENTER | DT_RIGHT);
    EXPECT_EQ(a->text_padding(), (platform::rect{2, 2, 2, 0}));
    EXPECT_TRUE(a->show_html());
    // The words are looked for in a fixed order; the last one found wins.
    EXPECT_EQ(static_cast<label*>(layout.named(L"b"))->text_style(), DT_SINGLELINE | DT_CENTER | DT_BOTTOM);
    EXPECT_EQ(static_cast<label*>(layout.named(L"c"))->text_style(), DT_SINGLELINE | DT_RIGHT | DT_VCENTER);
    auto* p = static_cast<progress*>(layout.named(L"p"));
    EXPECT_EQ(p->value(), 50) << "value is clamped to the range known when it applies";
    EXPECT_EQ(p->min_value(), 60);
    EXPECT_FALSE(p->is_horizontal());
    EXPECT_EQ(static_cast<progress*>(layout.named(L"q"))->value(), 0);
}

TEST(layout_builder, unknown_elements_and_misplaced_children_are_skipped) {
    built_layout layout(
        L"<Window><Font id=\"0\" name=\"f\"/><VerticalLayout name=\"root\"><Combo name=\"x\"><Button name=\"y\"/>"
        L"</Combo><Label name=\"l\"><Button name=\"z\"/></Label><Image name=\"i\"/><Button name=\"ok\"/>"
        L"</VerticalLayout><Button name=\"second\"/></Window>");
    ASSERT_NE(layout.root, nullptr);
    EXPECT_EQ(layout.root, layout.named(L"root"));
    auto* root = layout.root->as_container();
    ASSERT_EQ(root->count(), 2u);
    EXPECT_EQ(root->child_at(0)->name(), L"l");
    EXPECT_EQ(root->child_at(1)->name(), L"ok");
    for (std::wstring_view gone : {L"x", L"y", L"z", L"second"}) EXPECT_EQ(layout.named(gone), nullptr) << narrow(gone);
}

TEST(layout_builder, refuses_layouts_it_cannot_use) {
    struct refused_case {
        std::wstring text;
        std::wstring error_part;
    };
    const refused_case cases[] = {
        {L"<Dialog><Control/></Dialog>", L"not <Window>"},
        {L"<Window><Control></Window>", L"Unmatched closing tag"},
        {L"<Window x='1'></Window>", L"Expected attribute value"},
        {L"<Window><Font id=\"0\" name=\"f\"/></Window>", L"no control"},
        {L"<Window><Unknown/></Window>", L"no control"},
    };
    for (const refused_case& c : cases) {
        paint_manager manager;
        layout_builder builder;
        EXPECT_EQ(builder.create(c.text, manager), nullptr) << narrow(c.text);
        EXPECT_NE(builder.last_error().find(c.error_part), std::wstring::npos)
            << "got \"" << narrow(builder.last_error()) << "\", expected it to contain \"" << narrow(c.error_part)
            << "\"";
    }
}

TEST(layout_builder, window_attributes_fonts_and_defaults_reach_the_manager) {
    built_layout layout(
        L"<Window SIZE=\"412,200\" caption=\"0,0,0,28\" mininfo=\"300,100\" linkfontcolor=\"#FF14b9d6\" "
        L"roundcorner=\"4,5\" own=\"mine\">"
        L"<Font id=\"0\" name=\"Sans\" size=\"12\" default=\"true\"/>"
        L"<Font id=\"4\" name=\"Sans\" size=\"16\" bold=\"true\" underline=\"true\" italic=\"true\"/>"
        L"<Font id=\"5\" name=\"Sans\"/>"
        L"<Font id=\"-1\" name=\"Bad\" size=\"30\"/><Font id=\"7\" size=\"30\"/>"
        L"<Default name=\"button\" value=\"width=&quot;10&quot; height=&quot;20&quot;\"/>"
        L"<VerticalLayout><Button name=\"b\" height=\"5\"/></VerticalLayout></Window>");
    ASSERT_NE(layout.root, nullptr);
    paint_manager& m = layout.manager;
    EXPECT_EQ(m.initial_size(), (platform::size{412, 200}));
    EXPECT_EQ(m.caption_rect(), (platform::rect{0, 0, 0, 28}));
    EXPECT_EQ(m.min_info(), (platform::size{300, 100}));
    EXPECT_EQ(m.round_corner(), (platform::size{4, 5}));
    EXPECT_EQ(m.link_color(), 0xFF14B9D6u);
    EXPECT_EQ(m.link_hover_color(), 0xFFD3215Fu);
    EXPECT_EQ(m.default_text_color(), 0xFF000000u);
    EXPECT_EQ(m.disabled_text_color(), 0xFFA7A6AAu);
    EXPECT_EQ(m.custom_attribute(L"own"), L"mine");

    EXPECT_EQ(m.get_font(-1), m.get_font(0));
    EXPECT_EQ(m.get_font(4)->size, 16);
    EXPECT_TRUE(m.get_font(4)->bold && m.get_font(4)->underline && m.get_font(4)->italic);
    EXPECT_EQ(m.get_font(5)->size, 12) << "size defaults to 12";
    EXPECT_EQ(m.get_font(7), m.get_font(0)) << "a font without a name is not added";

    control* b = layout.named(L"b");
    EXPECT_EQ(b->fixed_width(), 10);
    EXPECT_EQ(b->fixed_height(), 5) << "the element's own attributes apply after the defaults";
}

TEST(layout_builder, reads_a_skin_file_with_byte_order_mark) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("layout_builder_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    {
        std::ofstream out(dir / "w.xml", std::ios::binary);
        out << "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Window size=\"10,20\">"
               "<Label name=\"t\" text=\"\xE6\xB8\xA9\"/></Window>\r\n";
    }
    clear_resource_zip();
    set_resource_path(dir.wstring() + L"/");
    {
        built_layout layout(L"w.xml");
        ASSERT_NE(layout.root, nullptr) << narrow(layout.builder.last_error());
        EXPECT_EQ(layout.root->text(), L"\u6E29");
        paint_manager manager;
        layout_builder builder;
        EXPECT_EQ(builder.create(L"missing.xml", manager), nullptr);
        EXPECT_NE(builder.last_error().find(L"Error opening file"), std::wstring::npos) << narrow(builder.last_error());
    }
    std::filesystem::remove_all(dir);
}

TEST(attribute_values, read_colours_lists_and_decimals) {
    struct color_case {
        std::wstring_view text;
        std::uint32_t value;
    };
    for (const color_case& c : std::initializer_list<color_case>{{L"#FFb3baca", 0xFFB3BACA},
                                                                 {L"FF000000", 0xFF000000},
                                                                 {L"#12", 0x12},
                                                                 {L"", 0},
                                                                 {L"#", 0},
                                                                 {L"#zz", 0},
                                                                 {L"#FFFFFFFFFF", 0xFFFFFFFF}}) {
        EXPECT_EQ(parse_color(c.text), c.value) << narrow(c.text);
    }
    struct list_case {
        std::wstring_view text;
        platform::rect value;
    };
    for (const list_case& c : std::initializer_list<list_case>{{L"0,0,0,28", {0, 0, 0, 28}},
                                                               {L"1 2 3 4", {1, 2, 3, 4}},
                                                               {L"1, 2,-3;4", {1, 2, -3, 4}},
                                                               {L"1,,3", {1, 0, 3, 0}},
                                                               {L"7", {7, 0, 0, 0}},
                                                               {L"", {0, 0, 0, 0}},
                                                               {L"10x20", {10, 20, 0, 0}},
                                                               {L"99999999999,1", {MAX_COORDINATE, 1, 0, 0}}}) {
        EXPECT_EQ(parse_rect(c.text), c.value) << narrow(c.text);
    }
    EXPECT_EQ(parse_int(L" -42px"), -42);
    EXPECT_EQ(parse_int(L"abc"), 0);
    EXPECT_TRUE(parse_bool(L"true"));
    EXPECT_FALSE(parse_bool(L"True"));
    EXPECT_FALSE(parse_bool(L"1"));
}

}  // namespace
