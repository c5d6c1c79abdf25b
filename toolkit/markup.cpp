// The layout markup: one wide text plus an index of its elements.
#include "toolkit/markup.h"

#include "platform/text.h"

namespace skinui {
namespace {

constexpr std::size_t MAX_ERROR_MESSAGE = 99;
constexpr std::size_t MAX_ERROR_LOCATION = 49;

bool is_name_char(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' || c == L':';
}

struct entity {
    std::wstring_view name;  // with the closing semicolon
    wchar_t character;
};
constexpr entity ENTITIES[] = {
    {L"amp;", L'&'}, {L"lt;", L'<'}, {L"gt;", L'>'}, {L"quot;", L'"'}, {L"apos;", L'\''},
};

}  // namespace

// --- markup_node ---

markup_node markup_node::parent() const {
    if (!doc_) return {};
    const std::size_t i = doc_->elements_[index_].parent;
    return i == markup::none ? markup_node() : markup_node(doc_, i);
}

markup_node markup_node::child() const {
    if (!doc_) return {};
    const std::size_t i = doc_->elements_[index_].child;
    return i == markup::none ? markup_node() : markup_node(doc_, i);
}

markup_node markup_node::sibling() const {
    if (!doc_) return {};
    const std::size_t i = doc_->elements_[index_].sibling;
    return i == markup::none ? markup_node() : markup_node(doc_, i);
}

bool markup_node::has_children() const {
    return doc_ && doc_->elements_[index_].child != markup::none;
}

std::wstring_view markup_node::name() const {
    return doc_ ? doc_->view(doc_->elements_[index_].name) : L"";
}

std::wstring_view markup_node::value() const {
    return doc_ ? doc_->view(doc_->elements_[index_].data) : L"";
}

std::size_t markup_node::attribute_count() const {
    return doc_ ? doc_->elements_[index_].attribute_count : 0;
}

std::wstring_view markup_node::attribute_name(std::size_t index) const {
    if (index >= attribute_count()) return {};
    return doc_->view(doc_->attributes_[doc_->elements_[index_].first_attribute + index].name);
}

std::wstring_view markup_node::attribute_value(std::size_t index) const {
    if (index >= attribute_count()) return {};
    return doc_->view(doc_->attributes_[doc_->elements_[index_].first_attribute + index].value);
}

bool markup_node::has_attribute(std::wstring_view name) const {
    for (std::size_t i = 0; i < attribute_count(); ++i) {
        if (attribute_name(i) == name) return true;
    }
    return false;
}

std::wstring_view markup_node::attribute_value(std::wstring_view name) const {
    for (std::size_t i = 0; i < attribute_count(); ++i) {
        if (attribute_name(i) == name) return attribute_value(i);
    }
    return {};
}

// --- markup ---

bool markup::load_utf8(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return load(platform::utf8_to_wide(bytes));
}

bool markup::load(std::wstring_view text) {
    text_.assign(text);
    pos_ = 0;
    elements_.clear();
    attributes_.clear();
    error_message_.clear();
    error_location_.clear();
    return parse_children(none, 0);
}

bool markup::failed(std::wstring_view message) {
    error_message_ = message.substr(0, MAX_ERROR_MESSAGE);
    const std::size_t from = pos_ < text_.size() ? pos_ : text_.size();
    error_location_ = text_.substr(from, MAX_ERROR_LOCATION);
    elements_.clear();
    attributes_.clear();
    return false;
}

void markup::skip_whitespace() {
    while (pos_ < text_.size() && text_[pos_] <= L' ') ++pos_;
}

std::size_t markup::skip_name() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && is_name_char(text_[pos_])) ++pos_;
    return pos_ - start;
}

// "<?" runs to the next "?>", "<!" to the next "->" (so comments end at "-->").
bool markup::skip_special() {
    const std::wstring_view end = at(pos_ + 1) == L'?' ? L"?>" : L"->";
    const std::size_t found = text_.find(end, pos_ + 2);
    pos_ = found == std::wstring::npos ? text_.size() : found + end.size();
    return true;
}

// Elements and skipped declarations up to the parent's end tag "</" (left
// for the caller) or, at the top level, the end of the text.
bool markup::parse_children(std::size_t parent, int depth) {
    std::size_t previous = none;
    for (;;) {
        skip_whitespace();
        if (pos_ >= text_.size()) {
            if (parent != none) return failed(L"Expected end-tag start");
            return elements_.empty() ? failed(L"Expected start tag") : true;
        }
        if (text_[pos_] != L'<') return failed(L"Expected start tag");
        const wchar_t next = at(pos_ + 1);
        if (next == L'/') return parent != none ? true : failed(L"Unmatched closing tag");
        if (next == L'?' || next == L'!') {
            skip_special();
            continue;
        }
        if (!parse_element(parent, previous, depth)) return false;
    }
}

bool markup::parse_element(std::size_t parent, std::size_t& previous, int depth) {
    if (depth >= MAX_DEPTH) return failed(L"Elements nested too deeply");
    ++pos_;  // '<'
    const std::size_t name_start = pos_;
    const std::size_t name_length = skip_name();
    if (name_length == 0) return failed(L"Error parsing element name");

    const std::size_t index = elements_.size();
    element e;
    e.name = {name_start, name_length};
    e.parent = parent;
    e.first_attribute = attributes_.size();
    elements_.push_back(e);
    if (previous != none) {
        elements_[previous].sibling = index;
    } else if (parent != none) {
        elements_[parent].child = index;
    }
    previous = index;

    if (!parse_attributes(elements_[index])) return false;
    skip_whitespace();
    if (at(pos_) == L'/' && at(pos_ + 1) == L'>') {
        pos_ += 2;
        return true;
    }
    if (pos_ >= text_.size() || text_[pos_] != L'>') return failed(L"Expected start-tag closing");
    ++pos_;
    span data;
    if (!parse_data(L'<', data)) return false;
    elements_[index].data = data;
    if (!parse_children(index, depth + 1)) return false;
    return parse_end_tag(elements_[index]);
}

bool markup::parse_attributes(element& e) {
    skip_whitespace();
    while (pos_ < text_.size() && text_[pos_] != L'>' && text_[pos_] != L'/') {
        const std::size_t name_start = pos_;
        const std::size_t name_length = skip_name();
        skip_whitespace();
        if (name_length == 0 || at(pos_) != L'=') return failed(L"Error while parsing attributes");
        ++pos_;
        skip_whitespace();
        if (at(pos_) != L'"' || pos_ >= text_.size()) return failed(L"Expected attribute value");
        ++pos_;
        span value;
        if (!parse_data(L'"', value)) return false;
        if (pos_ >= text_.size()) return failed(L"Error while parsing attribute string");
        ++pos_;  // closing quote
        attributes_.push_back({{name_start, name_length}, value});
        ++e.attribute_count;
        skip_whitespace();
    }
    return true;
}

// Character data up to the end character (or the end of the text), with
// the five predefined entities decoded in place; other ampersands stay.
bool markup::parse_data(wchar_t end, span& out) {
    out.start = pos_;
    std::size_t write = pos_;
    while (pos_ < text_.size() && text_[pos_] != end) {
        wchar_t c = text_[pos_++];
        if (c == L'&') {
            const std::wstring_view rest = std::wstring_view(text_).substr(pos_);
            for (const entity& known : ENTITIES) {
                if (rest.starts_with(known.name)) {
                    c = known.character;
                    pos_ += known.name.size();
                    break;
                }
            }
        }
        text_[write++] = c;
    }
    out.length = write - out.start;
    return true;
}

bool markup::parse_end_tag(const element& e) {
    pos_ += 2;  // "</"
    skip_whitespace();
    const std::size_t name_start = pos_;
    const std::size_t name_length = skip_name();
    if (std::wstring_view(text_).substr(name_start, name_length) != view(e.name)) {
        pos_ = name_start;
        return failed(L"Unmatched closing tag");
    }
    skip_whitespace();
    if (at(pos_) != L'>' || pos_ >= text_.size()) return failed(L"Unmatched closing tag");
    ++pos_;
    return true;
}

}  // namespace skinui
