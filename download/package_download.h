// The package download job: the local package path and one attempt of
// download and digest check on behalf of an update task.
#pragma once

#include <string>

#include "download/release_signature.h"
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

// The start of the names of our own download files beside the program: the
// package while it arrives and its part files. The cleanup at start removes
// what a killed run left of them.
inline constexpr char DOWNLOAD_MARK[] = "TamsaUpdate.download_";
// Where the package of that path arrives before it is put in place.
std::string download_path_for(const std::string& package_path);

// One attempt: the segmented download of encoded_url under our own name,
// then the digest check against task.package_md5, then the package is put
// at task.package_path (over a regular file of that name, never over the
// updater's or the product's own files, a link or a folder) and held in
// task.package_file until it has been started.
// An attempt that finds the file changed under it starts again, a few times.
// Progress goes to task.progress_window. True when the package is complete,
// verified and in place.
// True for a name the package must never take, ignoring case as Windows
// does: the updater's own files (its program, update.ini, any
// "TamsaUpdate." name) and the product's program exe_name.
bool is_own_file_name(const std::string& name, const std::string& exe_name);

// The digest check: true when expected_md5 is empty or equals local_md5
// ignoring case; a mismatch is logged with both digests.
bool package_digest_matches(const std::string& expected_md5, const std::string& local_md5);

// The release keys one attempt checks signatures against, whether the
// legacy form counts, and the outcome. With no keys required no signature
// is checked and verdict stays empty.
struct signature_check {
    std::vector<release_key> keys;
    bool required = false;
    legacy_signatures legacy = legacy_signatures::refused;
    signature_verdict verdict;
};
// The check of the program's own build: its compiled keys, required when it
// was built with any.
signature_check compiled_signature_check();

// check: the keys to check the package's signature against (nullptr: the
// compiled ones). When keys are required, a package is ready only when
// task.package_signature verifies under one of them for the task's claim
// (release_claim_of); otherwise it is deleted and the reason logged.
// timings, when given, receives where the last try's time went.
bool fetch_package(update_task& task, const std::string& encoded_url, transfer_limits limits = {},
                   signature_check* check = nullptr, download_timings* timings = nullptr);
