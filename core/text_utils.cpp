// Text, path and log utilities shared by the whole program.
#include "core/text_utils.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>

#include "core/run_log.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

// One log line is formatted into this many characters, the last one kept 0.
constexpr std::size_t LOG_BUFFER_SIZE = 4096;
// The path buffer of the executable's file name (MAX_PATH, terminator included).
constexpr std::size_t MAX_PATH_BYTES = 260;

bool is_path_separator(char c) {
    return c == '/' || c == '\\';
}

bool is_length_modifier(wchar_t c) {
    return c == L'h' || c == L'l' || c == L'L' || c == L'q' || c == L'j' || c == L'z' || c == L't';
}

bool is_conversion(wchar_t c) {
    return c != 0 && std::wcschr(L"diouxXeEfFgGaAcCsSpnm%", c) != nullptr;
}

// Flags, field width, precision and argument positions.
bool is_specification_part(wchar_t c) {
    return c != 0 && std::wcschr(L"-+ #0'123456789.*$I", c) != nullptr;
}

// Copies one conversion specification that starts at format[i] (the '%') to
// out, rewriting text and character conversions to Windows meanings: without
// a length modifier (or with "l") %s and %c take wide arguments, with "h" or
// as %S / %C they take narrow ones. Returns the index after the conversion.
std::size_t translate_specification(const wchar_t* format, std::size_t i, std::wstring& out) {
    std::size_t start = i++;
    while (is_specification_part(format[i])) ++i;
    std::size_t modifiers = i;
    while (format[i] != 0 && is_length_modifier(format[i])) ++i;
    // Not a conversion: copied as it stands, and scanning goes on after it.
    if (!is_conversion(format[i])) {
        out.append(format + start, i - start);
        return i;
    }
    wchar_t conversion = format[i];
    bool text_kind = conversion == L's' || conversion == L'c' || conversion == L'S' || conversion == L'C';
    if (!text_kind) {
        out.append(format + start, i + 1 - start);
        return i + 1;
    }
    std::wstring_view length(format + modifiers, i - modifiers);
    bool narrow = conversion == L'S' || conversion == L'C' || length == L"h";
    out.append(format + start, modifiers - start);
    if (!narrow) out.push_back(L'l');
    out.push_back(conversion == L'S' || conversion == L'C' ? static_cast<wchar_t>(conversion + (L'a' - L'A'))
                                                           : conversion);
    return i + 1;
}

// glibc's wide printf reads %s as a narrow text; Windows reads it as a wide
// one. The program's wide lines are written the Windows way.
std::wstring windows_wide_format(const wchar_t* format) {
    std::wstring out;
    out.reserve(std::wcslen(format) + 16);
    std::size_t i = 0;
    while (format[i] != 0) {
        if (format[i] != L'%') {
            out.push_back(format[i++]);
        } else if (format[i + 1] == L'%') {
            out.append(L"%%");
            i += 2;
        } else {
            i = translate_specification(format, i, out);
        }
    }
    return out;
}

std::string compute_module_dir() {
    std::string path = platform::executable_path();
    if (path.empty()) {
        return {};
    }
    // A path that does not fit the 260-byte buffer would be cut inside one of
    // its directory names, and removing the "file name" of the cut text would
    // name an ancestor directory; the cleanup and the package would then act
    // on the wrong place. Such a path gives no program directory at all.
    if (path.size() >= MAX_PATH_BYTES) {
        debug_log("[TamsaUpdate]: module_dir path longer than %d bytes: %.200s... \n",
                  static_cast<int>(MAX_PATH_BYTES - 1), path.c_str());
        return {};
    }
    std::size_t cut = path.size();
    while (cut > 0 && !is_path_separator(path[cut - 1])) --cut;
    // A bare file name without any directory keeps no directory either.
    if (cut == 0) {
        return {};
    }
    path.resize(cut);
    return path;
}

std::mutex module_dir_lock;
std::string module_dir_cache;
// Set once the directory was computed, found or not: the executable does not
// move, and a refused path is logged once rather than at every use.
bool module_dir_known = false;

std::string percent_encode(std::string_view text, bool keep_separators) {
    static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
                     byte == '.' || byte == '_' || byte == '-' || byte == '*' || byte == '~';
        bool separator = byte == '/' || byte == ':' || byte == '\\';
        if (plain || (keep_separators && separator)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(HEX_DIGITS[byte >> 4]);
            out.push_back(HEX_DIGITS[byte & 0x0F]);
        }
    }
    return out;
}

}  // namespace

void debug_log(const char* format, ...) {
    if (format == nullptr) return;
    std::array<char, LOG_BUFFER_SIZE> buffer;
    buffer[0] = 0;
    buffer[LOG_BUFFER_SIZE - 1] = 0;
    va_list args;
    va_start(args, format);
    // An overlong line is cut; vsnprintf reports the cut only by its result.
    int written = std::vsnprintf(buffer.data(), LOG_BUFFER_SIZE, format, args);
    va_end(args);
    if (written < 0) buffer[0] = 0;
    // The debug output may be read by others too (a debugger output viewer).
    const std::string line = without_credentials(std::string_view(buffer.data()));
    platform::debug_output(line);
    run_log_line(line);
}

void debug_log_w(const wchar_t* format, ...) {
    if (format == nullptr) return;
    std::wstring windows_format = windows_wide_format(format);
    std::array<wchar_t, LOG_BUFFER_SIZE> buffer;
    buffer[0] = 0;
    buffer[LOG_BUFFER_SIZE - 1] = 0;
    va_list args;
    va_start(args, format);
    // glibc returns -1 on a cut but leaves the first 4095 characters in place;
    // the last element stays the terminator either way.
    int written = std::vswprintf(buffer.data(), LOG_BUFFER_SIZE, windows_format.c_str(), args);
    va_end(args);
    (void)written;  // a cut is not reported, by design
    buffer[LOG_BUFFER_SIZE - 1] = 0;
    const std::wstring_view wide(buffer.data());
    const std::string utf8 = wide_to_utf8(wide);
    const std::string line = without_credentials(utf8);
    // The wide form goes out as it is unless something had to be cut.
    if (line == utf8) {
        platform::debug_output(wide);
    } else {
        platform::debug_output(utf8_to_wide(line));
    }
    run_log_line(line);
}

std::string module_dir() {
    std::lock_guard<std::mutex> guard(module_dir_lock);
    if (!module_dir_known) {
        module_dir_cache = compute_module_dir();
        module_dir_known = true;
    }
    return module_dir_cache;
}

std::wstring module_dir_w() {
    return ansi_to_wide(module_dir());
}

std::string wide_to_ansi(std::wstring_view text) {
    return platform::wide_to_narrow(text);
}

std::wstring ansi_to_wide(std::string_view text) {
    return platform::narrow_to_wide(text);
}

std::string wide_to_utf8(std::wstring_view text) {
    return platform::wide_to_utf8(text);
}

std::wstring utf8_to_wide(std::string_view text) {
    return platform::utf8_to_wide(text);
}

std::string ansi_to_utf8(std::string_view text) {
    return wide_to_utf8(ansi_to_wide(text));
}

std::string utf8_to_ansi(std::string_view text) {
    return wide_to_ansi(utf8_to_wide(text));
}

std::string url_encode(std::string_view text) {
    return percent_encode(text, false);
}

std::string url_encode_path(std::string_view text) {
    return percent_encode(text, true);
}
