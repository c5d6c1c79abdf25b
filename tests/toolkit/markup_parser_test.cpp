// The layout markup parser: structure, entities, skipped declarations,
// every error text with its location, and truncated documents.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "toolkit/markup.h"

namespace {

std::string narrow(std::wstring_view text) {
    return platform::wide_to_utf8(text);
}

using skinui::markup;
using skinui::markup_node;

TEST(markup_parser, builds_the_element_index_with_attributes_in_file_order) {
    markup doc;
    ASSERT_TRUE(
        doc.load(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- a comment -->\r\n"
                 L"<Window size = \"412,200\" caption=\"0,0,0,28\">\r\n"
                 L"  <Font id=\"0\" name=\"x\"/>\r\n  <!-- inner -->\r\n"
                 L"  <VerticalLayout inset=\"1,2,3,4\"><Label text=\"a\" /></VerticalLayout>\r\n"
                 L"</Window>\r\n"))
        << "error: " << narrow(doc.last_error_message());
    const markup_node root = doc.root();
    EXPECT_EQ(root.name(), L"Window");
    ASSERT_EQ(root.attribute_count(), 2u);
    EXPECT_EQ(root.attribute_name(0), L"size");
    EXPECT_EQ(root.attribute_value(0), L"412,200");
    EXPECT_EQ(root.attribute_name(1), L"caption");
    EXPECT_FALSE(root.parent().is_valid());

    const markup_node font = root.child();
    EXPECT_EQ(font.name(), L"Font");
    EXPECT_FALSE(font.has_children());
    const markup_node box = font.sibling();
    EXPECT_EQ(box.name(), L"VerticalLayout");
    EXPECT_EQ(box.attribute_value(L"inset"), L"1,2,3,4");
    EXPECT_FALSE(box.sibling().is_valid());
    const markup_node label = box.child();
    EXPECT_EQ(label.name(), L"Label");
    EXPECT_EQ(label.parent().name(), L"VerticalLayout");
    EXPECT_EQ(label.attribute_value(L"text"), L"a");
    EXPECT_EQ(label.attribute_value(L"missing"), L"");
    EXPECT_FALSE(label.has_attribute(L"Text")) << "attribute names are case-sensitive";
}

TEST(markup_parser, decodes_the_five_entities_and_keeps_other_ampersands) {
    struct entity_case {
        std::wstring raw;
        std::wstring decoded;
    };
    const entity_case cases[] = {
        {L"&amp;", L"&"},        {L"&lt;b&gt;", L"<b>"},   {L"&quot;q&quot;", L"\"q\""},
        {L"it&apos;s", L"it's"}, {L"a&b", L"a&b"},         {L"&nbsp;", L"&nbsp;"},
        {L"&amp", L"&amp"},      {L"&amp;amp;", L"&amp;"}, {L"x&", L"x&"},
    };
    for (const entity_case& c : cases) {
        markup doc;
        ASSERT_TRUE(doc.load(L"<a v=\"" + c.raw + L"\">" + c.raw + L"</a>"));
        EXPECT_EQ(doc.root().attribute_value(L"v"), c.decoded);
        EXPECT_EQ(doc.root().value(), c.decoded);
    }
}

TEST(markup_parser, reports_each_error_with_its_location) {
    struct error_case {
        std::wstring text;
        std::wstring message;
        std::wstring location;
    };
    const error_case cases[] = {
        {L"hello", L"Expected start tag", L"hello"},
        {L"", L"Expected start tag", L""},
        {L"<!-- only a comment -->", L"Expected start tag", L""},
        {L"<a><b/> text <c/></a>", L"Expected start tag", L"text <c/></a>"},
        {L"<-a/>", L"Error parsing element name", L"-a/>"},
        {L"< a/>", L"Error parsing element name", L" a/>"},
        {L"<a x=\"1\" /x>", L"Expected start-tag closing", L"/x>"},
        {L"<a", L"Expected start-tag closing", L""},
        {L"<a x=\"1\" ?>", L"Error while parsing attributes", L"?>"},
        {L"<a><b></a>", L"Unmatched closing tag", L"a>"},
        {L"<a></b>", L"Unmatched closing tag", L"b>"},
        {L"<a></a x>", L"Unmatched closing tag", L"x>"},
        {L"</a>", L"Unmatched closing tag", L"</a>"},
        {L"<a>text", L"Expected end-tag start", L""},
        {L"<a><b/>", L"Expected end-tag start", L""},
        {L"<a x>", L"Error while parsing attributes", L">"},
        {L"<a =\"1\">", L"Error while parsing attributes", L"=\"1\">"},
        {L"<a x='1'/>", L"Expected attribute value", L"'1'/>"},
        {L"<a x=1/>", L"Expected attribute value", L"1/>"},
        {L"<a x=\"1/>", L"Error while parsing attribute string", L""},
    };
    for (const error_case& c : cases) {
        markup doc;
        EXPECT_FALSE(doc.load(c.text)) << "accepted: " << narrow(c.text);
        EXPECT_EQ(doc.last_error_message(), c.message) << "for: " << narrow(c.text);
        EXPECT_EQ(doc.last_error_location(), c.location) << "for: " << narrow(c.text);
        EXPECT_FALSE(doc.is_valid());
        EXPECT_FALSE(doc.root().is_valid());
    }
}

TEST(markup_parser, error_location_is_cut_to_49_characters) {
    markup doc;
    const std::wstring tail(200, L'z');
    EXPECT_FALSE(doc.load(L"<a>" + tail));
    ASSERT_FALSE(doc.load(tail));
    EXPECT_EQ(doc.last_error_location(), std::wstring(49, L'z'));
}

TEST(markup_parser, every_prefix_of_a_document_parses_or_fails_cleanly) {
    const std::wstring full =
        L"<?xml version=\"1.0\"?><!-- c --><Window size=\"1,2\"><Font id=\"0\" name=\"f&amp;\"/>"
        L"<HorizontalLayout><Label text=\"&lt;x&gt;\"/></HorizontalLayout></Window>";
    for (std::size_t n = 0; n < full.size(); ++n) {
        markup doc;
        EXPECT_FALSE(doc.load(full.substr(0, n))) << "prefix of " << n << " characters accepted";
        EXPECT_FALSE(doc.last_error_message().empty());
    }
    markup doc;
    EXPECT_TRUE(doc.load(full));
}

TEST(markup_parser, skips_a_utf8_byte_order_mark_and_decodes_utf8) {
    markup doc;
    ASSERT_TRUE(doc.load_utf8("\xEF\xBB\xBF<Window><Label text=\"\xE6\xB8\xA9\xE9\xA6\xA8\"/></Window>"));
    EXPECT_EQ(doc.root().name(), L"Window");
    EXPECT_EQ(doc.root().child().attribute_value(L"text"), L"\u6E29\u99A8");
}

TEST(markup_parser, refuses_nesting_deeper_than_its_limit) {
    std::wstring deep;
    for (int i = 0; i < 100000; ++i) deep += L"<a>";
    markup doc;
    EXPECT_FALSE(doc.load(deep));
    EXPECT_FALSE(doc.last_error_message().empty());

    std::wstring allowed;
    for (int i = 0; i < markup::MAX_DEPTH; ++i) allowed += L"<a>";
    for (int i = 0; i < markup::MAX_DEPTH; ++i) allowed += L"</a>";
    EXPECT_TRUE(doc.load(allowed)) << narrow(doc.last_error_message());
}

}  // namespace
