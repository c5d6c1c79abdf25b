// Box layout: exact rectangles of stacked, flexible, clamped, aligned and
// floating children. The whole windows are checked on the skin's own files
// in skin_layout_test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/print.h"
#include "toolkit/container.h"
#include "toolkit/layout_builder.h"
#include "toolkit/paint_manager.h"

namespace {

using platform::rect;
using namespace skinui;

struct placed {
    std::wstring name;
    rect expected;
};

struct layout_case {
    const char* what;
    std::wstring markup;
    rect client;
    std::vector<placed> rects;
};

std::wstring in_window(const std::wstring& body) {
    return L"<Window>" + body + L"</Window>";
}

class box_layout : public ::testing::TestWithParam<layout_case> {};

TEST_P(box_layout, places_children_at_exact_rectangles) {
    const layout_case& c = GetParam();
    paint_manager manager;
    layout_builder builder;
    std::unique_ptr<control> root = builder.create(c.markup, manager);
    ASSERT_NE(root, nullptr) << platform::wide_to_utf8(builder.last_error());
    control* top = root.get();
    manager.attach_dialog(std::move(root));
    top->set_pos(c.client, false);
    for (const placed& p : c.rects) {
        control* found = manager.find_control(p.name);
        ASSERT_NE(found, nullptr) << platform::wide_to_utf8(p.name);
        EXPECT_EQ(found->pos(), p.expected) << c.what << ": " << platform::wide_to_utf8(p.name);
    }
}

const layout_case LAYOUT_CASES[] = {
    {"last flexible child absorbs the rounding",
     in_window(L"<HorizontalLayout inset=\"20,0,15,0\"><Control name=\"a\"/><Control name=\"b\"/>"
               L"<Control name=\"c\" width=\"14\"/></HorizontalLayout>"),
     {0, 0, 412, 20},
     {{L"a", {20, 0, 201, 20}}, {L"b", {201, 0, 383, 20}}, {L"c", {383, 0, 397, 20}}}},
    {"three flexible children",
     in_window(L"<HorizontalLayout><Control name=\"a\"/><Control name=\"b\"/><Control name=\"c\"/>"
               L"</HorizontalLayout>"),
     {0, 0, 10, 5},
     {{L"a", {0, 0, 3, 5}}, {L"b", {3, 0, 6, 5}}, {L"c", {6, 0, 10, 5}}}},
    {"a child taller than its row is cut",
     in_window(L"<HorizontalLayout inset=\"0,4,0,0\"><Label name=\"t\" width=\"150\" height=\"20\"/>"
               L"<Control/></HorizontalLayout>"),
     {20, 5, 571, 25},
     {{L"t", {20, 9, 170, 25}}}},
    {"floating child ignores the inset",
     in_window(L"<VerticalLayout inset=\"30,40,50,60\"><Control name=\"s\"/>"
               L"<Progress name=\"p\" float=\"true\" pos=\"46,139,0,0\" width=\"498\" height=\"14\"/>"
               L"</VerticalLayout>"),
     {0, 0, 586, 280},
     {{L"p", {46, 139, 544, 153}}, {L"s", {30, 40, 536, 220}}}},
    {"floating child anchored to fractions of its parent",
     in_window(L"<VerticalLayout><VerticalLayout name=\"box\" float=\"true\" pos=\"100,100,300,200\">"
               L"<Control name=\"f\" float=\"0.5,0.5,0.5,0.5\" pos=\"-10,-5,10,5\"/></VerticalLayout>"
               L"</VerticalLayout>"),
     {0, 0, 400, 400},
     {{L"box", {100, 100, 300, 200}}, {L"f", {190, 145, 210, 155}}}},
    {"childalign in a vertical box",
     in_window(L"<VerticalLayout><VerticalLayout name=\"c\" height=\"10\" childalign=\"center\">"
               L"<Control name=\"a\" width=\"20\"/></VerticalLayout>"
               L"<VerticalLayout height=\"10\" childalign=\"right\"><Control name=\"r\" width=\"20\" "
               L"padding=\"0,0,5,0\"/></VerticalLayout>"
               L"<VerticalLayout height=\"10\"><Control name=\"l\" width=\"20\" padding=\"3,0,0,0\"/>"
               L"</VerticalLayout><Control/></VerticalLayout>"),
     {0, 0, 100, 50},
     {{L"a", {40, 0, 60, 10}}, {L"r", {75, 10, 95, 20}}, {L"l", {3, 20, 23, 30}}}},
    {"childvalign in a horizontal box",
     in_window(L"<VerticalLayout><HorizontalLayout height=\"50\" childvalign=\"vcenter\">"
               L"<Control name=\"v\" width=\"10\" height=\"20\"/></HorizontalLayout>"
               L"<HorizontalLayout height=\"50\" childvalign=\"bottom\">"
               L"<Control name=\"b\" width=\"10\" height=\"20\"/></HorizontalLayout>"
               L"<HorizontalLayout height=\"50\"><Control name=\"t\" width=\"10\" height=\"20\"/>"
               L"</HorizontalLayout></VerticalLayout>"),
     {0, 0, 100, 150},
     {{L"v", {0, 15, 10, 35}}, {L"b", {0, 80, 10, 100}}, {L"t", {0, 100, 10, 120}}}},
    {"minimum and maximum sizes clamp",
     in_window(L"<VerticalLayout><Control name=\"a\" maxheight=\"30\"/><Control name=\"b\"/>"
               L"<Control name=\"c\" height=\"5\" minheight=\"12\" maxwidth=\"40\"/>"
               L"<Control name=\"d\" height=\"4\" minwidth=\"60\" width=\"20\"/></VerticalLayout>"),
     {0, 0, 100, 100},
     {{L"a", {0, 0, 100, 30}}, {L"b", {0, 30, 100, 84}}, {L"c", {0, 84, 40, 96}}, {L"d", {0, 96, 60, 100}}}},
    {"a maximum below the minimum counts as the minimum",
     in_window(L"<HorizontalLayout><Control name=\"a\" maxwidth=\"5\" minwidth=\"10\"/><Control name=\"b\"/>"
               L"</HorizontalLayout>"),
     {0, 0, 100, 10},
     {{L"a", {0, 0, 10, 10}}, {L"b", {10, 0, 100, 10}}}},
    {"paddings and child padding",
     in_window(L"<VerticalLayout childpadding=\"4\"><Control name=\"a\" height=\"10\" padding=\"3,2,1,5\"/>"
               L"<Control name=\"b\"/></VerticalLayout>"),
     {0, 0, 50, 100},
     {{L"a", {3, 2, 49, 12}}, {L"b", {0, 21, 50, 100}}}},
    {"negative child padding counts as 0",
     in_window(L"<HorizontalLayout childpadding=\"-7\"><Control name=\"a\" width=\"10\"/>"
               L"<Control name=\"b\" width=\"10\"/></HorizontalLayout>"),
     {0, 0, 50, 10},
     {{L"a", {0, 0, 10, 10}}, {L"b", {10, 0, 20, 10}}}},
    {"flexible children get nothing when fixed ones overflow",
     in_window(L"<VerticalLayout><Control name=\"a\" height=\"30\"/><Control name=\"b\"/></VerticalLayout>"),
     {0, 0, 50, 20},
     {{L"a", {0, 0, 50, 30}}, {L"b", {0, 30, 50, 30}}}},
    {"invisible children take no room",
     in_window(L"<HorizontalLayout><Control name=\"a\" width=\"30\" visible=\"false\"/><Control name=\"b\"/>"
               L"<Control name=\"c\" width=\"10\"/></HorizontalLayout>"),
     {0, 0, 50, 10},
     {{L"b", {0, 0, 40, 10}}, {L"c", {40, 0, 50, 10}}}},
    {"an inset larger than the box leaves an empty content area",
     in_window(L"<VerticalLayout inset=\"60,0,60,0\"><Control name=\"a\"/></VerticalLayout>"),
     {0, 0, 100, 10},
     {{L"a", {60, 0, 60, 10}}}},
};

// Readable, stable test names from the case descriptions ("three flexible
// children" becomes three_flexible_children), so -R and --rerun-failed work.
std::string case_name(const ::testing::TestParamInfo<layout_case>& info) {
    std::string name;
    for (const char* c = info.param.what; *c != 0; ++c) {
        const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        name.push_back(plain ? *c : '_');
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(cases, box_layout, ::testing::ValuesIn(LAYOUT_CASES), case_name);

TEST(box_layout_rect, a_right_below_the_left_is_raised_to_it) {
    control c;
    c.set_pos({10, 20, 5, 8}, false);
    EXPECT_EQ(c.pos(), (rect{10, 20, 10, 20}));
}

TEST(box_layout_rect, huge_sizes_do_not_overflow) {
    paint_manager manager;
    layout_builder builder;
    std::wstring body = L"<HorizontalLayout>";
    for (int i = 0; i < 3000; ++i) body += L"<Control width=\"99999999\" padding=\"99999999,0,99999999,0\"/>";
    body += L"<Control name=\"last\"/></HorizontalLayout>";
    auto root = builder.create(in_window(body), manager);
    ASSERT_NE(root, nullptr);
    control* top = root.get();
    manager.attach_dialog(std::move(root));
    top->set_pos({0, 0, 100, 10}, false);
    const rect last = manager.find_control(L"last")->pos();
    EXPECT_GE(last.width(), 0) << last;
}

}  // namespace
