// The optional settings file update.ini beside the program: the query's
// type value and the update service's host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What update.ini contributes to one update query.
struct update_settings {
    // Sent as the query's type value; 2 when the file gives none.
    std::int32_t is_test = 2;
    // host[:port] of the update service.
    std::string host;
};

// Path of update.ini: the program's directory followed by "update.ini".
std::wstring update_settings_path();
// Lets tests read another file instead of the one beside the program; an
// empty path restores the default.
void set_update_settings_path(const std::wstring& path);

// Reads [UPDATE] is_test and host from the file at path. A missing or
// unusable host gives the built-in default host.
update_settings read_update_settings(const std::wstring& path);

// The built-in host of the update service.
std::string default_update_host();

// True when text is a usable host[:port]: 1 to 253 characters, each a
// letter, digit, '.', '-', ':', '[' or ']'.
bool is_valid_update_host(std::string_view text);

// The C run-time's _wtoi: blanks skipped, an optional sign, decimal digits up
// to the first other character; no digits give 0; beyond the 32-bit range
// the result saturates.
std::int32_t wtoi(std::wstring_view text);
