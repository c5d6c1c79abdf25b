// Finding, waiting for and terminating the product's process by executable name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/process.h"

// One snapshot of the running processes, walked forward by find.
class process_snapshot {
public:
    process_snapshot();
    process_snapshot(const process_snapshot&) = delete;
    process_snapshot& operator=(const process_snapshot&) = delete;

    bool valid() const { return open_; }
    void close();

    // Steps on from the current position to the next process (pid 0 skipped)
    // whose executable name equals name ignoring case; fills entry on success.
    // The walk is never rewound, so a second call finds the next match.
    bool find(const std::wstring& name, platform::process_entry& entry);

private:
    std::vector<platform::process_entry> entries_;
    std::size_t position_ = 0;
    bool open_ = false;
};

// Compares two names ignoring letter case, for every letter.
bool equal_ignoring_case(const std::wstring& a, const std::wstring& b);

// Terminates the first process of a fresh snapshot with that executable name;
// non-zero when one was found and terminated.
int terminate_process_by_name(const std::wstring& name);
