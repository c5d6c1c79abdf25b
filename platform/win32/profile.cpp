// The profile (INI) file reader on Windows: GetPrivateProfileStringW itself.
#include "platform/profile.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace platform {

std::wstring read_profile_string(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& default_value, const std::wstring& path, std::size_t buffer_size) {
    if (buffer_size == 0) return {};
    // A relative name would be looked up in the Windows directory; an empty
    // one means win.ini. Neither is the settings file the caller means.
    if (path.empty()) return default_value.substr(0, buffer_size - 1);
    std::vector<wchar_t> buffer(buffer_size, L'\0');
    const DWORD length = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), default_value.c_str(), buffer.data(),
                                                    static_cast<DWORD>(buffer_size), path.c_str());
    return std::wstring(buffer.data(), std::min<std::size_t>(length, buffer_size - 1));
}

}  // namespace platform
