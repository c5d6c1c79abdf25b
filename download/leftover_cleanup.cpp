// Removal of leftovers of earlier updates from the program's directory:
// "temp_" folders, old updaters, and our own download files of a killed run.
#include "download/leftover_cleanup.h"

#include "core/text_utils.h"
#include "download/package_download.h"
#include "platform/files.h"

namespace {

const char* const TEMP_DIR_MARK = "temp_";
const char* const OLD_UPDATER_MARK = "TamsaUpdate.exe_";

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

void list_dir_entries(const std::string& root, const std::string& directory, std::list<dir_entry>& entries) {
    for (const platform::directory_entry& found : platform::list_directory(directory)) {
        if (found.is_directory && !found.name.empty() && found.name[0] == '.') {
            continue;
        }
        dir_entry entry;
        std::string full = directory + found.name;
        entry.relative_path = full.size() >= root.size() ? full.substr(root.size()) : std::string();
        entry.name = found.name;
        entry.is_dir = found.is_directory ? 1 : 0;
        entries.push_back(std::move(entry));
    }
}

bool delete_path(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    return platform::delete_tree(path);
}

void clear_files_in(const std::string& dir) {
    std::list<dir_entry> entries;
    // An empty directory text would list the working directory instead.
    if (!dir.empty()) {
        list_dir_entries(dir, dir, entries);
    }
    const int count = static_cast<int>(entries.size());
    debug_log("[TamsaUpdate] clear_files Find File Count:%d \n", count);
    for (const dir_entry& entry : entries) {
        // Failed deletions are left for the next run on purpose.
        if (entry.is_dir && contains(entry.name, TEMP_DIR_MARK)) {
            (void)delete_path(dir + entry.name);
        } else if (!entry.is_dir && contains(entry.name, OLD_UPDATER_MARK)) {
            (void)platform::delete_file(dir + entry.name);
        } else if (!entry.is_dir && entry.name.starts_with(DOWNLOAD_MARK)) {
            // A package and part files of a run that was killed. Deleting a
            // link removes the link itself, never what it names.
            (void)platform::delete_file(dir + entry.name);
        }
    }
    debug_log("[TamsaUpdate] clear_files Find File Count:%d End \n", count);
}

void clear_files() {
    clear_files_in(module_dir());
}
