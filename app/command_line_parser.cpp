// The switch tokenizer of the launch command line.
#include "app/command_line_parser.h"

#include "platform/text_rules.h"

namespace {

// Keys are compared with A to Z folded to lower case; nothing else is folded.
std::wstring fold_key(const std::wstring& key) {
    std::wstring folded = key;
    for (wchar_t& c : folded) c = platform::ascii_lower(c);
    return folded;
}

}  // namespace

void command_line_parser::store(const std::wstring& key, const std::wstring& value) {
    if (key.empty()) return;
    // The first occurrence of a key wins.
    values.emplace(fold_key(key), value);
}

bool command_line_parser::parse(const std::wstring& command_line) {
    values.clear();
    text = command_line;
    const std::size_t end = text.size();
    std::size_t p = 0;
    while (p < end) {
        // A switch starts after the next "-" or "/".
        std::size_t s = text.find_first_of(L"-/", p);
        if (s == std::wstring::npos) break;
        p = s + 1;
        if (p >= end) break;
        std::size_t q = text.find_first_of(L" :=", p);
        if (q == std::wstring::npos) {
            store(text.substr(p), L"");
            break;
        }
        // A key without a value: ended by a blank or by a separator at the very end.
        if (text[q] == L' ' || q + 1 == end) {
            store(text.substr(p, q - p), L"");
            p = q + 1;
            continue;
        }
        std::wstring key = text.substr(p, q - p);
        std::size_t v = q + 1;
        std::size_t e;
        if (text[v] == L'"') {
            ++v;
            e = text.find(L'"', v);
        } else {
            e = text.find(L' ', v);
        }
        // An unterminated value takes the rest of the text.
        if (e == std::wstring::npos) {
            store(key, text.substr(v));
            break;
        }
        store(key, text.substr(v, e - v));
        p = e + 1;
    }
    return false;
}

std::wstring command_line_parser::get(const std::wstring& key) const {
    auto found = values.find(fold_key(key));
    return found == values.end() ? std::wstring() : found->second;
}
