// A reader of profile (INI) files with the Windows profile rules: section and
// key names compared ignoring case, blanks around names and values trimmed,
// a value in matching quotes unquoted, the first matching key wins.
#pragma once

#include <string>

namespace platform {

// The value of key in section of the file at path, or default_value when the
// file, the section or the key is missing. At most buffer_size - 1
// characters are returned (GetPrivateProfileStringW's buffer rule).
std::wstring read_profile_string(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& default_value, const std::wstring& path, std::size_t buffer_size);

}  // namespace platform
