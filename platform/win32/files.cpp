// Files and directories on Windows: FindFirstFile listing, DeleteFileA, the
// program's own path from GetModuleFileNameA.
#include "platform/files.h"

#include <windows.h>

#include <string>

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

// ---- deleting a tree ----
//
// The library's remove_all cannot tell a symbolic link or junction from a
// folder here and would empty the folder it names. The walk is our own: a
// reparse point is removed itself, never entered, and every folder is held
// open (without delete sharing) while it is emptied, so that it cannot be
// swapped for a link between the check and the walk.

constexpr int MAX_TREE_DEPTH = 128;

std::wstring tree_path(const std::string& path) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
    }
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    return wide;
}

bool delete_plain_file(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        (void)::SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    return ::DeleteFileW(path.c_str()) != 0;
}

bool delete_entry(const std::wstring& path, DWORD attributes, int depth);

// Empties a folder that is held open as itself (not through a link).
bool empty_folder(const std::wstring& path, int depth) {
    HANDLE folder =
        ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool plain_folder = ::GetFileInformationByHandle(folder, &info) != 0 &&
                              (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                              (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    bool ok = plain_folder;
    if (plain_folder) {
        WIN32_FIND_DATAW found{};
        HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                ok = delete_entry(path + L"\\" + name, found.dwFileAttributes, depth + 1) && ok;
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);  // result ignored: the listing is complete
        }
    }
    ::CloseHandle(folder);  // result ignored: nothing to do on failure
    return ok;
}

bool delete_entry(const std::wstring& path, DWORD attributes, int depth) {
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link or junction: removing it leaves what it names alone.
        return folder ? ::RemoveDirectoryW(path.c_str()) != 0 : delete_plain_file(path, attributes);
    }
    if (!folder) return delete_plain_file(path, attributes);
    if (depth > MAX_TREE_DEPTH) return false;
    const bool emptied = empty_folder(path, depth);
    // RemoveDirectoryW on a folder swapped for a link meanwhile removes the link only.
    return ::RemoveDirectoryW(path.c_str()) != 0 && emptied;
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
    // A link to a folder is removed as a folder; the folder it names stays.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ::RemoveDirectoryA(path.c_str()) != 0;
    }
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
    const std::wstring wide = tree_path(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return delete_entry(wide, attributes, 0);
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
