// The run log: every debug log line of a run is also appended to a file
// beside the program, for a product team to read after the fact. Each run
// starts with a line of its own; the oldest runs are dropped so that the file
// stays below its cap. A file that cannot be opened or written is skipped
// without a word: the log must never stop the update.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr std::uint64_t RUN_LOG_CAP_BYTES = 1024 * 1024;

// Starts this run's part of the log at path (closing any earlier one).
// False when the file cannot be used; the run then logs to the debug output only.
bool start_run_log(const std::string& path, std::uint64_t cap_bytes = RUN_LOG_CAP_BYTES);
// Appends one line (a line end is added when missing) to the run log, if any.
void run_log_line(std::string_view line);
void stop_run_log();

// The first line of every run in the log.
constexpr std::string_view RUN_LOG_MARK = "==== TamsaUpdate run ";
