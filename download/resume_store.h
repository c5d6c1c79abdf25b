// What a failed download attempt leaves to the next attempt at the same
// package within this run of the program: the part files it wrote and the
// validator that proves the host still serves the same file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct resume_point {
    std::string url;
    std::string target_path;
    std::uint64_t total_size = 0;
    // The strong ETag, else the Last-Modified date, of the probe's answer.
    std::string validator;
    std::vector<std::string> part_names;
    // Bytes of each segment's part file that came from a checked answer.
    std::vector<std::uint64_t> held;
};

// Keeps the point for the next attempt; a point kept earlier for another
// package is dropped and its part files deleted.
void keep_resume_point(resume_point point);
// The kept point for this address and target, removed from the store. A kept
// point for anything else is dropped and its part files deleted.
std::optional<resume_point> take_resume_point(const std::string& url, const std::string& target_path);
// Deletes the part files of a point that will not be resumed.
void drop_resume_point(const resume_point& point);
// Bytes that attempts of this process took over from earlier attempts.
std::uint64_t resumed_bytes_total();
void count_resumed_bytes(std::uint64_t bytes);
