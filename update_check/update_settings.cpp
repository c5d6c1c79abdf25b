// The optional settings file update.ini beside the program.
#include "update_check/update_settings.h"

#include <limits>
#include <mutex>

#include "core/text_utils.h"
#include "platform/profile.h"

#ifndef TAMSA_UPDATE_HOST
#error "TAMSA_UPDATE_HOST must name the default host of the update service"
#endif

namespace {

constexpr std::size_t IS_TEST_BUFFER_SIZE = 16;
// Long enough for any valid host[:port] plus one character to notice a longer one.
constexpr std::size_t HOST_BUFFER_SIZE = 256;
constexpr std::size_t MAX_HOST_LENGTH = 253;

std::mutex settings_path_lock;
std::wstring settings_path_override;

bool is_host_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == ':' || c == '[' || c == ']';
}

bool is_blank(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

// The host named in update.ini, or the default when the key is absent or unusable.
std::string read_host(const std::wstring& path) {
    const std::wstring value = platform::read_profile_string(L"UPDATE", L"host", L"", path, HOST_BUFFER_SIZE);
    if (value.empty()) return default_update_host();
    const std::string host = wide_to_utf8(value);
    if (!is_valid_update_host(host)) {
        debug_log("[TamsaUpdate]: update.ini host %s refused, using %s \n", host.c_str(),
                  default_update_host().c_str());
        return default_update_host();
    }
    return host;
}

}  // namespace

std::wstring update_settings_path() {
    {
        std::lock_guard<std::mutex> guard(settings_path_lock);
        if (!settings_path_override.empty()) return settings_path_override;
    }
    return module_dir_w() + L"update.ini";
}

void set_update_settings_path(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(settings_path_lock);
    settings_path_override = path;
}

update_settings read_update_settings(const std::wstring& path) {
    update_settings settings;
    const std::wstring is_test = platform::read_profile_string(L"UPDATE", L"is_test", L"2", path, IS_TEST_BUFFER_SIZE);
    settings.is_test = wtoi(is_test);
    settings.host = read_host(path);
    return settings;
}

std::string default_update_host() {
    return TAMSA_UPDATE_HOST;
}

bool is_valid_update_host(std::string_view text) {
    if (text.empty() || text.size() > MAX_HOST_LENGTH) return false;
    for (char c : text) {
        if (!is_host_character(c)) return false;
    }
    return true;
}

std::int32_t wtoi(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    // Accumulate as a magnitude that stops growing once past the range.
    constexpr std::int64_t LIMIT = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - L'0');
        if (magnitude > LIMIT) magnitude = LIMIT;
    }
    if (negative) return static_cast<std::int32_t>(-magnitude);
    if (magnitude >= LIMIT) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(magnitude);
}
