// The digest check of a downloaded package.
#include <cstddef>

#include "app/text_utils.h"
#include "app/update_task.h"
#include "download/md5.h"
#include "download/package_download.h"

namespace {

// ASCII comparison ignoring case; any difference in length is a mismatch.
bool equal_ignoring_case(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool package_digest_matches(const std::string& expected_md5, const std::string& local_md5) {
    if (expected_md5.empty()) {
        return true;
    }
    if (!equal_ignoring_case(local_md5, expected_md5)) {
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
