// Small text rules shared by every layer: ASCII case folding and the last
// component of a path. Header-only, free of any OS type.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// Folds A to Z only; every other character, non-ASCII included, is kept.
template <typename Char>
constexpr Char ascii_lower(Char c) {
    return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// Equal when both have the same length and differ only in the case of A to Z.
template <typename Char>
constexpr bool equal_ignoring_ascii_case(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

template <typename Char>
constexpr bool starts_with_ignoring_ascii_case(std::basic_string_view<Char> text, std::basic_string_view<Char> prefix) {
    return text.size() >= prefix.size() && equal_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

// What follows the later of the last "/" and the last "\" (the whole text
// when it has neither). Taking the later one keeps a name with a backslash
// after the last slash from naming a path in another folder.
template <typename Char>
constexpr std::basic_string_view<Char> last_path_component(std::basic_string_view<Char> path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (path[i - 1] == Char('/') || path[i - 1] == Char('\\')) return path.substr(i);
    }
    return path;
}

}  // namespace platform
