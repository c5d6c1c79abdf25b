// Files and directories.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

struct directory_entry {
    std::string name;
    bool is_directory = false;
};

// The entries of one directory in the file system's order, without "." and
// "..". An empty list when the directory cannot be read.
std::vector<directory_entry> list_directory(const std::string& directory);
// Deletes one file (not a directory); true on success.
bool delete_file(const std::string& path);
// Moves source over target in one step (target replaced when it exists;
// a link at target is replaced itself, never what it names); true on success.
bool replace_file(const std::string& source, const std::string& target);
// What a path names, without following a link at its end.
enum class path_kind { none, file, directory, other };
path_kind kind_of_path(const std::string& path);
// Deletes a file or a whole directory tree for good; true on success.
bool delete_tree(const std::string& path);
// Full path of the running executable; empty when it cannot be read.
std::string executable_path();
void sleep_ms(unsigned milliseconds);
// Appends the whole content of source (from its first byte) to the end of
// target, both open stdio streams, copying inside the kernel where it can;
// memory use does not grow with the size. The bytes appended, -1 on error.
std::int64_t append_file(std::FILE* target, std::FILE* source);

}  // namespace platform
