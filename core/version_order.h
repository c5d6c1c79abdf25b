// The version orders. The design's order compares plain unsigned byte
// strings (the first differing byte decides and a prefix is lower: "1.10" <
// "1.9"); a program built with release keys compares releases by dotted
// numbers instead, so that a genuinely signed older release can never pass
// for a newer one.
#pragma once

#include <string_view>

// Negative, zero or positive as left is lower than, equal to or higher than right.
int compare_versions(std::string_view left, std::string_view right);

inline bool version_is_lower(std::string_view version, std::string_view other) {
    return compare_versions(version, other) < 0;
}

// The dotted-number order. Both texts are split at "."; fields are compared
// pair by pair from the left and the first unequal pair decides:
// - two fields of digits only compare as numbers of any length (leading
//   zeros do not count: "01" equals "1", "007" is lower than "10");
// - a field of digits is lower than any other field ("2" < "2a" < "beta");
// - two other fields (letters, signs, "0-rc1") compare as unsigned byte
//   strings, so "2.0.0-rc1" is higher than "2.0.0";
// - a missing or empty field counts as "0": "1.2" and "1..2" equal "1.2.0"
//   and "1.0.2", "" equals "0", "1.2" is lower than "1.2.1" and "1.2.rc".
// The order is total (any two texts compare, the same way round each time),
// reads each byte at most twice and never converts a field to a machine
// number, so a run of a thousand digits is as safe as "1".
int compare_dotted_versions(std::string_view left, std::string_view right);

inline bool dotted_version_is_newer(std::string_view version, std::string_view than) {
    return compare_dotted_versions(version, than) > 0;
}
