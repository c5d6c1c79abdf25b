// The package download job: the local package path and one attempt of
// download and digest check on behalf of an update task.
#pragma once

#include <string>

#include "download/segment_downloader.h"

class update_task;

// The file name of a percent-encoded package address: everything after the
// later of its last "/" and last "\", else the whole address, so that the
// package always lands beside the program.
std::string package_file_name(const std::string& encoded_url);
// The percent-encoded form of a package address (narrow, ANSI code page).
std::string encoded_package_url(const std::string& package_url);
// module_dir() followed by the file name of the encoded address.
std::string package_path_for(const std::string& package_url);

// One attempt: the segmented download of encoded_url into task.package_path,
// then the digest check against task.package_md5. Progress goes to
// task.progress_window. True when the package is complete and verified.
// The digest check: true when expected_md5 is empty or equals local_md5
// ignoring case; a mismatch is logged with both digests.
bool package_digest_matches(const std::string& expected_md5, const std::string& local_md5);

bool fetch_package(update_task& task, const std::string& encoded_url, transfer_limits limits = {});
