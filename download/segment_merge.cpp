// Joining the part files of a segmented download into the target file.
#include <cstdio>

#include "download/segment_downloader.h"
#include "platform/files.h"

int segment_downloader::merge_segments() {
    // The target this attempt made at its start, never reopened by name.
    std::FILE* target = joined_;
    if (target == nullptr || !platform::truncate_file(target)) {
        merge_failed_ = true;
        return 0;
    }
    merged_bytes_ = 0;
    // Segment order, whatever order the data arrived in.
    for (std::FILE*& part : part_files_) {
        if (part == nullptr) {
            merge_failed_ = true;  // a segment without its part would leave a gap
            continue;
        }
        const std::int64_t appended = platform::append_file(target, part);
        if (appended < 0) {
            merge_failed_ = true;
        } else {
            merged_bytes_ += static_cast<std::uint64_t>(appended);
        }
        (void)std::fclose(part);  // read only from here on; nothing to lose
        part = nullptr;
    }
    // Kept open for the caller; what it holds is on disk once flushed.
    if (std::fflush(target) != 0) {
        merge_failed_ = true;
    }
    timings_.join_s = seconds_since_start();
    // The digest thread read the part files while the join copied them. Each
    // goes as soon as that thread is done with it, so the deletions overlap
    // the rest of the digest instead of following it.
    for (std::size_t i = 0; i + 1 < part_names_.size(); ++i) {
        if (digest_.wait_until_done_with(i)) (void)platform::delete_file(part_names_[i]);
    }
    package_digest_ = digest_.finish(merged_bytes_);
    package_signature_hash_ = digest_.blake2b();
    timings_.digest_tail_s = seconds_since_start();
    timings_.digest_busy_s = std::chrono::duration<double>(digest_.progress().busy).count();
    for (const std::string& name : part_names_) {
        (void)platform::delete_file(name);  // a part never created simply fails here
    }
    return static_cast<int>(part_names_.size());
}
