// The run log's file: what is kept of earlier runs, and this run's lines
// within the room that is left.
#include "core/run_log.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>

#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/log_file.h"

namespace {

std::mutex log_lock;
platform::log_file log;
std::uint64_t log_size = 0;
std::uint64_t log_cap = RUN_LOG_CAP_BYTES;
bool log_full = false;

// The said line once this run's room is used up; it always fits.
constexpr std::string_view FULL_LINE = "[TamsaUpdate]: log full, later lines of this run are not kept\n";

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where part starts in text at or after from, ASCII letters compared without case.
std::size_t find_ignoring_case(std::string_view text, std::string_view part, std::size_t from = 0) {
    for (std::size_t at = from; at + part.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < part.size() && lower(text[at + i]) == part[i]) ++i;
        if (i == part.size()) return at;
    }
    return std::string_view::npos;
}

// An address's host part ends at its path, query or fragment, or where the
// text around it ends the address (blank, quote, bracket of a log line).
bool ends_authority(char c) {
    return c == '/' || c == '?' || c == '#' || c == '"' || c == '\'' || c == '<' || c == '>' || c == '`' || c == ' ' ||
           c == ')' || c == ',' || c == ';' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

// Cuts "user:password@" after every "://".
std::string without_user_info(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t done = 0;
    for (std::size_t at = text.find("://"); at != std::string_view::npos; at = text.find("://", at + 3)) {
        const std::size_t start = at + 3;
        std::size_t end = start;
        while (end < text.size() && !ends_authority(text[end])) ++end;
        const std::size_t user_end = text.substr(start, end - start).rfind('@');
        if (user_end == std::string_view::npos) continue;
        out.append(text.substr(done, start - done));
        done = start + user_end + 1;
        at = done - 3;
    }
    out.append(text.substr(done));
    return out;
}

bool line_break_at(std::string_view text, std::size_t at, std::size_t& length) {
    const char c = text[at];
    if (c == '\n' || c == '\r' || c == '\f' || c == '\v') {
        length = 1;
        return true;
    }
    // NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR in UTF-8: some readers break lines there.
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("\xC2\x85")) {
        length = 2;
        return true;
    }
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
        length = 3;
        return true;
    }
    return false;
}

// The physical lines of text, each without its break; empty lines dropped.
template <typename each_line>
void for_each_line(std::string_view text, each_line&& take) {
    std::size_t start = 0;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        std::size_t length = 0;
        if (at < text.size() && !line_break_at(text, at, length)) continue;
        if (at > start) take(text.substr(start, at - start));
        if (at == text.size()) break;
        at += length - 1;
        start = at + 1;
    }
}

// A header line's credentials: everything after "authorization:" or
// "cookie:" (Proxy-Authorization and Set-Cookie included) up to the line's end.
std::string without_secret_headers(std::string_view line) {
    for (const std::string_view name : {std::string_view("authorization:"), std::string_view("cookie:")}) {
        const std::size_t at = find_ignoring_case(line, name);
        if (at != std::string_view::npos) {
            return std::string(line.substr(0, at + name.size())) + " [removed]";
        }
    }
    return std::string(line);
}

// A line as the file keeps it: control characters other than a tab written as \xHH.
std::string escaped_controls(std::string_view line) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
            out += "\\x";
            out.push_back(HEX[byte >> 4]);
            out.push_back(HEX[byte & 0x0f]);
        } else {
            out.push_back(c);
        }
    }
    return out;
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

// Writes text (whole lines) within the cap; holds log_lock.
void put_text(std::string text) {
    if (!log.is_open() || log_full || text.empty()) return;
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

// One logged text as stamped lines; holds log_lock.
void put_line(std::string_view line) {
    const std::string stamp = time_stamp();
    std::string text;
    for_each_line(without_credentials(line),
                  [&](std::string_view piece) { text += stamp + " " + escaped_controls(piece) + "\n"; });
    put_text(std::move(text));
}

// The part of the last bytes of our log (tail, read from one byte before
// them) that starts at a run's mark on a line of its own; empty when none does.
std::string newest_runs(const std::string& tail) {
    const std::string mark = "\n" + std::string(RUN_LOG_MARK);
    const std::size_t at = tail.find(mark);
    return at == std::string::npos ? std::string() : tail.substr(at + 1);
}

std::string file_name(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Renames what is at path to the place for a file set aside (replacing one
// there; a link there is replaced itself, never followed) and opens a new
// log at path. The line that says so, or empty when it could not be done.
std::string set_aside(const std::string& path, std::uint64_t size, const char* why) {
    log.close();
    const std::string aside = path + std::string(RUN_LOG_ASIDE_SUFFIX);
    if (!platform::replace_file(path, aside)) {
        platform::debug_output("[TamsaUpdate]: " + file_name(path) + " " + why + " and cannot be set aside as " +
                               file_name(aside) + "; this run keeps no log file");
        return {};
    }
    if (!log.open(path)) return {};
    return "[TamsaUpdate]: " + file_name(path) + " " + why + " (" + std::to_string(size) + " bytes); set aside as " +
           file_name(aside) + ", a new log begins";
}

}  // namespace

std::string without_credentials(std::string_view text) {
    const std::string addresses_cut = without_user_info(text);
    std::string out;
    out.reserve(addresses_cut.size());
    // Header lines are cut line by line; the breaks themselves are kept.
    std::size_t start = 0;
    const std::string_view all(addresses_cut);
    for (std::size_t at = 0; at <= all.size(); ++at) {
        std::size_t length = 0;
        if (at < all.size() && !line_break_at(all, at, length)) continue;
        out += without_secret_headers(all.substr(start, at - start));
        if (at == all.size()) break;
        out.append(all.substr(at, length));
        at += length - 1;
        start = at + 1;
    }
    return out;
}

bool start_run_log(const std::string& path, std::uint64_t cap_bytes) {
    std::lock_guard<std::mutex> guard(log_lock);
    log.close();
    log_full = false;
    log_cap = cap_bytes;
    log_size = 0;
    if (path.empty() || !log.open(path)) return false;
    // Only what may be kept is read: the start, to know the file for ours,
    // and at most the last half of the cap.
    const std::optional<std::uint64_t> size = log.size();
    if (!size) {
        log.close();
        return false;
    }
    std::string aside_line;
    const bool ours = *size == 0 || log.read_at(0, RUN_LOG_MARK.size()) == RUN_LOG_MARK;
    if (!ours || *size > cap_bytes) {
        aside_line = set_aside(path, *size, ours ? "is larger than a log of ours" : "is not a log of ours");
        if (aside_line.empty()) {
            log.close();
            return false;
        }
    } else if (*size > cap_bytes / 2) {
        // Earlier runs keep at most half the cap, so this run has room of its own.
        const std::uint64_t keep = cap_bytes / 2;
        const std::string kept = newest_runs(log.read_at(*size - keep - 1, static_cast<std::size_t>(keep + 1)));
        if (!log.replace(kept)) {
            log.close();
            return false;
        }
        log_size = kept.size();
    } else {
        log_size = *size;
    }
    put_text(std::string(RUN_LOG_MARK) + time_stamp() + " ====\n");
    if (!aside_line.empty()) {
        platform::debug_output(aside_line);
        put_line(aside_line);
    }
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
