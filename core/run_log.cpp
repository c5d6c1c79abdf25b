// The run log's file: what is kept of earlier runs, and this run's lines
// within the room that is left.
#include "core/run_log.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/log_file.h"

namespace {

std::mutex log_lock;
platform::log_file log;
std::uint64_t log_size = 0;
std::uint64_t log_cap = RUN_LOG_CAP_BYTES;
bool log_full = false;

// The said line once this run's room is used up; it always fits.
constexpr std::string_view FULL_LINE = "[TamsaUpdate]: log full, later lines of this run are not kept\n";

// The newest runs of content that fit in budget bytes, whole runs only.
std::string newest_runs(const std::string& content, std::uint64_t budget) {
    std::vector<std::size_t> starts;
    for (std::size_t at = content.find(RUN_LOG_MARK); at != std::string::npos;
         at = content.find(RUN_LOG_MARK, at + 1)) {
        if (at == 0 || content[at - 1] == '\n') starts.push_back(at);
    }
    for (const std::size_t start : starts) {
        if (content.size() - start <= budget) return content.substr(start);
    }
    return {};
}

// "YYYY-MM-DD hh:mm:ss.mmm" in UTC, from the calendar of the standard
// library alone (no time-zone call of the system's).
std::string time_stamp() {
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> time{now - day};
    char text[40] = {};
    (void)std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld.%03lld", static_cast<int>(date.year()),
                        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                        static_cast<long long>(time.hours().count()), static_cast<long long>(time.minutes().count()),
                        static_cast<long long>(time.seconds().count()),
                        static_cast<long long>(time.subseconds().count()));
    return text;
}

// Writes one line within the cap; holds log_lock.
void put_line(std::string_view line, bool stamped = true) {
    if (!log.is_open() || log_full) return;
    std::string text = stamped ? time_stamp() + " " + std::string(line) : std::string(line);
    if (text.back() != '\n') text.push_back('\n');
    if (log_size + text.size() + FULL_LINE.size() >= log_cap) {
        log_full = true;
        text = std::string(FULL_LINE);
    }
    if (!log.append(text)) {
        log.close();  // a log that cannot be written is given up for this run
        return;
    }
    log_size += text.size();
}

}  // namespace

bool start_run_log(const std::string& path, std::uint64_t cap_bytes) {
    std::lock_guard<std::mutex> guard(log_lock);
    log.close();
    log_full = false;
    log_cap = cap_bytes;
    if (path.empty() || !log.open(path)) return false;
    // Earlier runs keep at most half the cap, so this run has room of its own.
    const std::string content = log.read_all();
    if (content.size() > cap_bytes / 2) {
        const std::string kept = newest_runs(content, cap_bytes / 2);
        if (!log.replace(kept)) {
            log.close();
            return false;
        }
        log_size = kept.size();
    } else {
        log_size = content.size();
    }
    put_line(std::string(RUN_LOG_MARK) + time_stamp() + " ====", false);
    return log.is_open();
}

void run_log_line(std::string_view line) {
    if (line.empty()) return;
    std::lock_guard<std::mutex> guard(log_lock);
    put_line(line);
}

void stop_run_log() {
    std::lock_guard<std::mutex> guard(log_lock);
    log.close();
}
