// The log file on Windows: opened on the link itself (never its target), and
// refused when it is a reparse point (symbolic link, junction) or has more
// than one name.
#include "platform/log_file.h"

#include <windows.h>

#include <algorithm>

#include "platform/text.h"

namespace platform {

namespace {

HANDLE handle_of(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

bool write_all(HANDLE file, std::string_view text) {
    while (!text.empty()) {
        const DWORD chunk = text.size() > 0x10000000u ? 0x10000000u : static_cast<DWORD>(text.size());
        DWORD put = 0;
        if (!::WriteFile(file, text.data(), chunk, &put, nullptr) || put == 0) return false;
        text.remove_prefix(put);
    }
    return true;
}

}  // namespace

bool log_file::open(const std::string& path) {
    close();
    const std::wstring wide = utf8_to_wide(path);
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || info.nNumberOfLinks != 1 ||
        ::GetFileType(file) != FILE_TYPE_DISK) {
        (void)::CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

std::optional<std::uint64_t> log_file::size() {
    LARGE_INTEGER size{};
    if (!is_open() || !::GetFileSizeEx(handle_of(handle_), &size) || size.QuadPart < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::string log_file::read_at(std::uint64_t offset, std::size_t length) {
    std::string content;
    if (!is_open() || offset > static_cast<std::uint64_t>(INT64_MAX)) return content;
    HANDLE file = handle_of(handle_);
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return content;
    char buffer[16384];
    while (content.size() < length) {
        const DWORD want = static_cast<DWORD>((std::min)(sizeof buffer, length - content.size()));
        DWORD got = 0;
        if (!::ReadFile(file, buffer, want, &got, nullptr) || got == 0) break;
        content.append(buffer, got);
    }
    return content;
}

bool log_file::replace(std::string_view text) {
    if (!is_open()) return false;
    HANDLE file = handle_of(handle_);
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(file) && write_all(file, text);
}

bool log_file::append(std::string_view text) {
    if (!is_open()) return false;
    HANDLE file = handle_of(handle_);
    LARGE_INTEGER end{};
    return ::SetFilePointerEx(file, end, nullptr, FILE_END) && write_all(file, text);
}

void log_file::close() {
    if (is_open()) (void)::CloseHandle(handle_of(handle_));
    handle_ = -1;
}

}  // namespace platform
