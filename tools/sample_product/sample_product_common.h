// What the sample product does the same way on every system: its command
// line, the updater's command line it builds, and the record of what the
// updater told it.
//
//   sample_product [--version=V] [--prod=NAME] [--channel=C] [--url=PAGE]
//                  [--quit-id=N] [--updater=PATH | --no-updater]
//                  [--updater-args="ARGS"] [--ignore-quit] [--no-window]
//                  [--record=FILE]
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace sample_product {

struct options {
    std::string version = "1.0.0";
    std::string product = "SampleProduct";
    std::string channel = "sample";
    std::string url = "http://127.0.0.1/downLoad.html";
    long quit_id = 49374;
    bool quit_id_given = false;
    std::string updater;  // empty: TamsaUpdate beside this program
    bool start_updater = true;
    std::string updater_args;
    bool ignore_quit = false;
    bool window = true;
    std::string record;
};

// Reads the options (the program's name left out); false, with a line on
// standard error, on an unknown option or a quit id that is no number.
bool parse(const std::vector<std::string>& args, options& out);

// The folder and the last component of a path whose components end at any
// of the separators.
std::string dir_of(const std::string& path, const std::string& separators);
std::string base_of(const std::string& path, const std::string& separators);

// The updater's command line as a list: the updater itself, then the
// product's switches (-hwnd only when the product has a window, given as
// window_id), then the words of --updater-args.
std::vector<std::string> updater_arguments(const options& opts, const std::string& updater,
                                           const std::string& window_id, const std::string& exe_name);

#ifdef _WIN32
// UTF-8 text in the wide form Windows takes; empty when it is not UTF-8.
std::wstring to_wide(const std::string& utf8);
#endif

// One received message as a record line: "message KIND ID W L".
std::string message_line(const std::string& kind, long long id, long long w, long long l);

// The record: each line appended to --record's file at once (so that a
// reader sees it while the product runs), the last few kept for the window.
class record_log {
public:
    explicit record_log(std::string path) : path_(std::move(path)) {}
    void add(const std::string& line);
    const std::deque<std::string>& recent() const { return recent_; }

private:
    std::string path_;
    std::deque<std::string> recent_;
};

}  // namespace sample_product
