// The sample product's command line, the updater's command line and the record.
#include "sample_product_common.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace sample_product {

namespace {

// The text after "--name=" when arg is that option.
bool option_value(const std::string& arg, const char* name, std::string& value) {
    const std::string prefix = std::string("--") + name + "=";
    if (arg.compare(0, prefix.size(), prefix) != 0) return false;
    value = arg.substr(prefix.size());
    return true;
}

constexpr std::size_t RECENT_LINES = 8;

// Opens a file for appending; on Windows the UTF-8 path goes through the
// wide interface, so that any folder name works. Binary mode: lines end
// in "\n" on every system.
FILE* open_for_append(const std::string& path) {
#ifdef _WIN32
    const std::wstring wide = to_wide(path);
    return wide.empty() ? nullptr : ::_wfopen(wide.c_str(), L"ab");
#else
    return std::fopen(path.c_str(), "ab");
#endif
}

}  // namespace

#ifdef _WIN32
std::wstring to_wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), length) != length) return {};
    return text;
}
#endif

bool parse(const std::vector<std::string>& args, options& out) {
    for (const std::string& arg : args) {
        std::string value;
        if (option_value(arg, "version", out.version) || option_value(arg, "prod", out.product) ||
            option_value(arg, "channel", out.channel) || option_value(arg, "url", out.url) ||
            option_value(arg, "updater", out.updater) || option_value(arg, "updater-args", out.updater_args) ||
            option_value(arg, "record", out.record)) {
            continue;
        }
        if (option_value(arg, "quit-id", value)) {
            char* end = nullptr;
            out.quit_id = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0') {
                std::fprintf(stderr, "sample_product: --quit-id takes a decimal number, not %s\n", value.c_str());
                return false;
            }
            out.quit_id_given = true;
        } else if (arg == "--no-updater") {
            out.start_updater = false;
        } else if (arg == "--ignore-quit") {
            out.ignore_quit = true;
        } else if (arg == "--no-window") {
            out.window = false;
        } else {
            std::fprintf(stderr, "sample_product: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

std::string dir_of(const std::string& path, const std::string& separators) {
    const auto slash = path.find_last_of(separators);
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string base_of(const std::string& path, const std::string& separators) {
    const auto slash = path.find_last_of(separators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> updater_arguments(const options& opts, const std::string& updater,
                                           const std::string& window_id, const std::string& exe_name) {
    std::vector<std::string> args{updater};
    if (opts.window) args.push_back("-hwnd=" + window_id);
    args.push_back("-quitmsgid=" + std::to_string(opts.quit_id));
    args.push_back("-prod=" + opts.product);
    args.push_back("-channel=" + opts.channel);
    args.push_back("-ver=" + opts.version);
    args.push_back("-url=" + opts.url);
    args.push_back("-exename=" + exe_name);
    std::istringstream extra(opts.updater_args);
    for (std::string word; extra >> word;) args.push_back(word);
    return args;
}

std::string message_line(const std::string& kind, long long id, long long w, long long l) {
    return "message " + kind + " " + std::to_string(id) + " " + std::to_string(w) + " " + std::to_string(l);
}

void record_log::add(const std::string& line) {
    recent_.push_back(line);
    if (recent_.size() > RECENT_LINES) recent_.pop_front();
    if (path_.empty()) return;
    // A record that cannot be written is said once per line on standard
    // error; the product goes on, since the record only serves observers.
    FILE* file = open_for_append(path_);
    if (file == nullptr) {
        std::fprintf(stderr, "sample_product: cannot write the record %s\n", path_.c_str());
        return;
    }
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
}

}  // namespace sample_product
