// The layout markup: one wide text plus an index of its elements (name,
// attributes in file order, first child, next sibling, parent).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace skinui {

class markup;

// A view of one element of a parsed document; invalid when it names none.
class markup_node {
public:
    markup_node() = default;
    bool is_valid() const { return doc_ != nullptr; }
    markup_node parent() const;
    markup_node child() const;
    markup_node sibling() const;
    bool has_children() const;
    std::wstring_view name() const;
    std::wstring_view value() const;  // character data before the first child

    std::size_t attribute_count() const;
    std::wstring_view attribute_name(std::size_t index) const;
    std::wstring_view attribute_value(std::size_t index) const;
    bool has_attribute(std::wstring_view name) const;
    std::wstring_view attribute_value(std::wstring_view name) const;  // empty when absent

private:
    friend class markup;
    markup_node(const markup* doc, std::size_t index) : doc_(doc), index_(index) {}
    const markup* doc_ = nullptr;
    std::size_t index_ = 0;
};

class markup {
public:
    // Elements nested deeper than this are refused, so that no recursion
    // over the tree can exhaust the stack.
    static constexpr int MAX_DEPTH = 200;

    bool load(std::wstring_view text);
    // UTF-8 bytes; a leading byte-order mark is skipped.
    bool load_utf8(std::string_view bytes);
    bool is_valid() const { return !elements_.empty(); }
    markup_node root() const { return is_valid() ? markup_node(this, 0) : markup_node(); }

    // The last error: its message (up to 99 characters) and the text where
    // it happened (up to 49 characters).
    const std::wstring& last_error_message() const { return error_message_; }
    const std::wstring& last_error_location() const { return error_location_; }

private:
    friend class markup_node;
    static constexpr std::size_t none = static_cast<std::size_t>(-1);
    struct span {
        std::size_t start = 0;
        std::size_t length = 0;
    };
    struct attribute {
        span name;
        span value;
    };
    struct element {
        span name;
        span data;
        std::size_t first_attribute = 0;
        std::size_t attribute_count = 0;
        std::size_t parent = none;
        std::size_t child = none;
        std::size_t sibling = none;
    };

    bool parse_children(std::size_t parent, int depth);
    bool parse_element(std::size_t parent, std::size_t& previous, int depth);
    bool parse_attributes(element& e);
    bool parse_end_tag(const element& e);
    bool parse_data(wchar_t end, span& out);
    bool skip_special();
    void skip_whitespace();
    std::size_t skip_name();
    bool failed(std::wstring_view message);
    wchar_t at(std::size_t i) const { return i < text_.size() ? text_[i] : L'\0'; }
    std::wstring_view view(const span& s) const { return std::wstring_view(text_).substr(s.start, s.length); }

    std::wstring text_;
    std::size_t pos_ = 0;
    std::vector<element> elements_;
    std::vector<attribute> attributes_;
    std::wstring error_message_;
    std::wstring error_location_;
};

}  // namespace skinui
