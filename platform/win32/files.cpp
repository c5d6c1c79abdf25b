// Files and directories on Windows: FindFirstFile listing, DeleteFileA, the
// program's own path from GetModuleFileNameA.
#include "platform/files.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

namespace platform {
namespace {

bool is_dot_or_dot_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

std::string search_pattern(const std::string& directory) {
    std::string pattern = directory.empty() ? std::string(".") : directory;
    if (pattern.back() != '\\' && pattern.back() != '/') pattern.push_back('\\');
    pattern.push_back('*');
    return pattern;
}

}  // namespace

std::vector<directory_entry> list_directory(const std::string& directory) {
    std::vector<directory_entry> entries;
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA(search_pattern(directory).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        if (is_dot_or_dot_dot(found.cFileName)) continue;
        // A reparse point (junction, link) counts as what it is, never as the
        // directory it names, so a cleanup never walks into it.
        const bool directory_bit = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool reparse = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries.push_back({found.cFileName, directory_bit && !reparse});
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);  // result ignored: the listing is complete
    return entries;
}

bool delete_file(const std::string& path) {
    if (path.empty()) return false;
    return ::DeleteFileA(path.c_str()) != 0;
}

bool replace_file(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty()) return false;
    return ::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

path_kind kind_of_path(const std::string& path) {
    if (path.empty()) return path_kind::none;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return path_kind::none;
    // A symbolic link or junction is neither a file of ours nor a folder to walk.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return path_kind::other;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return path_kind::directory;
    return path_kind::file;
}

bool delete_tree(const std::string& path) {
    if (path.empty()) return false;
    try {
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return false;
        std::filesystem::remove_all(path, error);
        return !error;
    } catch (const std::exception&) {  // allocation failure inside the library
        return false;
    }
}

std::string executable_path() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);  // the path was cut; try again with more room
    }
}

void sleep_ms(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace platform
