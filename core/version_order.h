// The one order of version texts: plain unsigned byte strings, the first
// differing byte decides and a prefix is lower ("1.10" < "1.9").
#pragma once

#include <string_view>

// Negative, zero or positive as left is lower than, equal to or higher than right.
int compare_versions(std::string_view left, std::string_view right);

inline bool version_is_lower(std::string_view version, std::string_view other) {
    return compare_versions(version, other) < 0;
}
