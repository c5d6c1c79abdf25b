// Helpers of the Win32 platform tests: temporary directories, child
// processes with their standard output on a pipe, bounded waiting, and a
// reader of the debugger output.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace win32_test {

// A fresh directory, removed with its contents at the end of the test.
class temp_dir {
public:
    temp_dir() {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (int i = 0; i < 100 && path_.empty(); ++i) {
            auto candidate = base / ("tamsa_win32_" + std::to_string(random()) + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) path_ = candidate.string();
        }
    }
    ~temp_dir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls the condition every 10 ms for at most limit; true once it holds.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A child process with its standard output on a pipe; killed at the end of
// the test if still there.
class child_process {
public:
    child_process(const std::string& path, const std::vector<std::string>& args) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE write_end = nullptr;
        if (!::CreatePipe(&read_end_, &write_end, &inherit, 0)) return;
        ::SetHandleInformation(read_end_, HANDLE_FLAG_INHERIT, 0);
        std::string line = "\"" + path + "\"";
        for (const std::string& arg : args) line += " \"" + arg + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write_end;
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION info{};
        if (::CreateProcessA(path.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
            process_ = info.hProcess;
            pid_ = info.dwProcessId;
            ::CloseHandle(info.hThread);
        }
        ::CloseHandle(write_end);
    }
    ~child_process() {
        kill();
        if (process_ != nullptr) ::CloseHandle(process_);
        if (read_end_ != nullptr) ::CloseHandle(read_end_);
    }
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD pid() const { return pid_; }

    // One line of the child's standard output (without its line end).
    std::string read_line() {
        std::string line;
        char c = 0;
        DWORD got = 0;
        while (::ReadFile(read_end_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
            if (c != '\r') line.push_back(c);
        }
        return line;
    }
    void kill() {
        if (process_ != nullptr && !exited(0)) {
            ::TerminateProcess(process_, 99);
            ::WaitForSingleObject(process_, 5000);
        }
    }
    bool exited(DWORD within_ms) const {
        return process_ != nullptr && ::WaitForSingleObject(process_, within_ms) == WAIT_OBJECT_0;
    }
    // The exit code once ended; STILL_ACTIVE while it runs.
    DWORD exit_code() const {
        DWORD code = STILL_ACTIVE;
        if (process_ != nullptr) ::GetExitCodeProcess(process_, &code);
        return code;
    }

private:
    HANDLE process_ = nullptr;
    HANDLE read_end_ = nullptr;
    DWORD pid_ = 0;
};

// Reads the debugger output of every process on the machine (the DBWIN
// protocol that debug viewers use) while it lives; text() has what arrived.
class debug_output_reader {
public:
    debug_output_reader() {
        buffer_ready_ = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
        data_ready_ = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
        mapping_ = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
        if (buffer_ready_ == nullptr || data_ready_ == nullptr || mapping_ == nullptr) return;
        view_ = static_cast<const char*>(::MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
        if (view_ == nullptr) return;
        reader_ = std::thread([this] { run(); });
    }
    ~debug_output_reader() {
        stop_ = true;
        if (reader_.joinable()) {
            ::SetEvent(data_ready_);
            reader_.join();
        }
        if (view_ != nullptr) ::UnmapViewOfFile(view_);
        for (HANDLE h : {mapping_, data_ready_, buffer_ready_}) {
            if (h != nullptr) ::CloseHandle(h);
        }
    }
    debug_output_reader(const debug_output_reader&) = delete;
    debug_output_reader& operator=(const debug_output_reader&) = delete;

    bool active() const { return view_ != nullptr; }
    std::string text() {
        std::lock_guard<std::mutex> guard(lock_);
        return text_;
    }
    // Texts of the process pid only, in order, one entry per call.
    std::vector<std::string> lines_of(DWORD pid) {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<std::string> out;
        for (const auto& [from, line] : lines_) {
            if (from == pid) out.push_back(line);
        }
        return out;
    }

private:
    void run() {
        while (!stop_) {
            ::SetEvent(buffer_ready_);
            if (::WaitForSingleObject(data_ready_, INFINITE) != WAIT_OBJECT_0 || stop_) return;
            DWORD pid = 0;
            std::memcpy(&pid, view_, sizeof pid);
            std::string line(view_ + sizeof pid, strnlen(view_ + sizeof pid, 4096 - sizeof pid));
            std::lock_guard<std::mutex> guard(lock_);
            text_ += line;
            lines_.emplace_back(pid, line);
        }
    }

    HANDLE buffer_ready_ = nullptr;
    HANDLE data_ready_ = nullptr;
    HANDLE mapping_ = nullptr;
    const char* view_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread reader_;
    std::mutex lock_;
    std::string text_;
    std::vector<std::pair<DWORD, std::string>> lines_;
};

}  // namespace win32_test
