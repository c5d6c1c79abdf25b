// Removal of leftovers of earlier updates from the program's directory.
#pragma once

#include <cstdint>
#include <list>
#include <string>

// One listed directory entry.
struct dir_entry {
    std::string relative_path;  // the directory plus the name, minus the root's length
    std::string name;
    std::int16_t is_dir = 0;
};

// Deletes every "temp_" subdirectory and every "TamsaUpdate.exe_" file
// beside the program.
void clear_files();
// The same cleanup on any directory (ending in a path separator).
void clear_files_in(const std::string& dir);

// Appends the entries of one directory (not descending into subdirectories);
// directories whose name begins with "." are skipped.
void list_dir_entries(const std::string& root, const std::string& directory, std::list<dir_entry>& entries);
// Deletes a file or a whole directory tree for good; true on success.
bool delete_path(const std::string& path);
