// The digest check of a downloaded package.
#include <cstddef>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "download/md5.h"
#include "download/package_download.h"
#include "platform/text_rules.h"

bool package_digest_matches(const std::string& expected_md5, const std::string& local_md5) {
    if (expected_md5.empty()) {
        return true;
    }
    if (!platform::equal_ignoring_ascii_case(std::string_view(local_md5), std::string_view(expected_md5))) {
        debug_log("[TamsaUpdate]:  Update File Md5: %s  Local File Md5: %s \n", expected_md5.c_str(),
                  local_md5.c_str());
        return false;
    }
    return true;
}

bool update_task::verify_package_md5() {
    if (package_md5.empty()) {
        return true;
    }
    std::string local_md5;
    file_md5(package_path, local_md5);
    return package_digest_matches(package_md5, local_md5);
}
