// The download's own files: exclusive creation and the checked reopen.
#include "download/own_files.h"

#include "core/text_utils.h"
#include "platform/files.h"

std::FILE* create_download_file(const std::string& path, const char* what) {
    std::string error;
    std::FILE* file = platform::create_new_file(path, &error);
    if (file != nullptr) return file;
    if (platform::kind_of_path(path) != platform::path_kind::none) {
        debug_log("[TamsaUpdate]: %s was in the way of %s; it is removed and the file made anew \n", path.c_str(),
                  what);
        file = platform::create_fresh_file(path, &error);
    }
    if (file == nullptr) {
        debug_log("[TamsaUpdate]: %s %s cannot be created: %s \n", what, path.c_str(), error.c_str());
    }
    return file;
}

std::FILE* reopen_download_file(const std::string& path, const char* what) {
    std::string error;
    std::FILE* file = platform::open_own_file(path, &error);
    if (file != nullptr) return file;
    debug_log("[TamsaUpdate]: %s %s is not kept (%s); it is removed and made anew \n", what, path.c_str(),
              error.c_str());
    (void)platform::delete_file(path);  // a link goes itself; an absent file simply fails here
    return nullptr;
}
