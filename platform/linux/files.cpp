// Files and directories on Linux: listing, deletion, the program's own path.
#include "platform/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

namespace platform {
namespace {

std::string join_path(const std::string& directory, const char* name) {
    std::string path = directory;
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path += name;
    return path;
}

// A symbolic link counts as what it is, never as the directory it names.
bool entry_is_directory(const std::string& directory, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    struct stat info {};
    if (::lstat(join_path(directory, entry->d_name).c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode);
}

bool is_dot_or_dot_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

std::vector<directory_entry> list_directory(const std::string& directory) {
    std::vector<directory_entry> entries;
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr) return entries;
    // readdir returns null both at the end and on an error; either way the
    // listing ends with what was read.
    while (const dirent* entry = ::readdir(dir)) {
        if (is_dot_or_dot_dot(entry->d_name)) continue;
        entries.push_back({entry->d_name, entry_is_directory(directory, entry)});
    }
    ::closedir(dir);  // result ignored: the descriptor is gone either way
    return entries;
}

bool delete_file(const std::string& path) {
    if (path.empty()) return false;
    // unlink refuses directories on Linux (EISDIR), as the contract wants.
    return ::unlink(path.c_str()) == 0;
}

bool replace_file(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty()) return false;
    return ::rename(source.c_str(), target.c_str()) == 0;
}

path_kind kind_of_path(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::lstat(path.c_str(), &info) != 0) return path_kind::none;
    if (S_ISREG(info.st_mode)) return path_kind::file;
    if (S_ISDIR(info.st_mode)) return path_kind::directory;
    return path_kind::other;
}

bool delete_tree(const std::string& path) {
    if (path.empty()) return false;
    try {
        std::error_code error;
        // symlink_status: a link is removed itself, never what it points to.
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return false;
        std::filesystem::remove_all(path, error);
        return !error;
    } catch (const std::exception&) {  // allocation failure inside the library
        return false;
    }
}

std::string executable_path() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        if (buffer.size() >= 65536) return {};
        buffer.resize(buffer.size() * 2);  // the path may have been cut; try again with more room
    }
}

void sleep_ms(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
