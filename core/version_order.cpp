// The version orders.
#include "core/version_order.h"

#include <algorithm>
#include <cstddef>

int compare_versions(std::string_view left, std::string_view right) {
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto a = static_cast<unsigned char>(left[i]);
        const auto b = static_cast<unsigned char>(right[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    if (left.size() == right.size()) return 0;
    return left.size() < right.size() ? -1 : 1;
}

namespace {

bool all_digits(std::string_view field) {
    return !field.empty() && std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Two digit runs as numbers: without leading zeros the longer is the
// larger, and runs of one length compare digit by digit.
int compare_numbers(std::string_view left, std::string_view right) {
    left.remove_prefix(std::min(left.find_first_not_of('0'), left.size()));
    right.remove_prefix(std::min(right.find_first_not_of('0'), right.size()));
    if (left.size() != right.size()) return left.size() < right.size() ? -1 : 1;
    return compare_versions(left, right);
}

int compare_fields(std::string_view left, std::string_view right) {
    const bool left_number = all_digits(left);
    const bool right_number = all_digits(right);
    if (left_number && right_number) return compare_numbers(left, right);
    if (left_number != right_number) return left_number ? -1 : 1;
    return compare_versions(left, right);
}

// The field before the next "." (the whole rest when there is none), taken
// off text; "0" for an empty field and once text is used up.
std::string_view next_field(std::string_view& text, bool& used_up) {
    if (used_up) return "0";
    const std::size_t dot = text.find('.');
    const std::string_view field = text.substr(0, dot);
    if (dot == std::string_view::npos) {
        used_up = true;
    } else {
        text.remove_prefix(dot + 1);
    }
    return field.empty() ? std::string_view("0") : field;
}

}  // namespace

int compare_dotted_versions(std::string_view left, std::string_view right) {
    bool left_done = false;
    bool right_done = false;
    while (!left_done || !right_done) {
        const int order = compare_fields(next_field(left, left_done), next_field(right, right_done));
        if (order != 0) return order;
    }
    return 0;
}
