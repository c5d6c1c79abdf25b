// Processes on Linux: a snapshot from /proc, waiting and terminating through
// a pidfd, and starting files the way the shell's "open" verb does.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/linux/process_fallback.h"
#include "platform/text.h"

namespace platform {
namespace {

using linux_backend::is_proc_directory;
using linux_backend::open_proc_directory;
using linux_backend::proc_process_ended;
using linux_backend::wait_proc_directory;

// ---- snapshot ----

bool parse_pid(const char* name, process_id& pid) {
    if (*name == '\0') return false;
    long long value = 0;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > 0x7FFFFFFF) return false;
    }
    pid = static_cast<process_id>(value);
    return pid > 0;
}

// The base name of /proc/<pid>/exe; empty when it can't be read (kernel
// threads, processes of other users).
std::string exe_base_name(process_id pid) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(link, target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
    target.resize(static_cast<std::size_t>(length));
    constexpr std::string_view DELETED = " (deleted)";
    if (target.ends_with(DELETED)) target.resize(target.size() - DELETED.size());
    return target.substr(target.rfind('/') + 1);
}

// ---- waiting ----

int pidfd_open(process_id pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

using wait_result = process_handle::wait_result;

wait_result wait_pidfd(int fd, unsigned timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0) return wait_result::ended;  // a pidfd is readable once the process has exited
        if (ready == 0) return wait_result::timeout;
        if (errno != EINTR) return wait_result::failed;
    }
}

// ---- starting ----

// Win32 codes of the shell's open verb (ERROR_FILE_NOT_FOUND, ...).
constexpr std::intptr_t SHELL_OK = 42;
constexpr std::intptr_t SHELL_OUT_OF_MEMORY = 8;
constexpr std::intptr_t SHELL_FILE_NOT_FOUND = 2;
constexpr std::intptr_t SHELL_PATH_NOT_FOUND = 3;
constexpr std::intptr_t SHELL_ACCESS_DENIED = 5;
constexpr std::intptr_t SHELL_BAD_FORMAT = 11;
constexpr std::intptr_t SHELL_NO_ASSOCIATION = 31;

std::intptr_t shell_code(int error) {
    switch (error) {
        case ENOENT:
            return SHELL_FILE_NOT_FOUND;
        case ENOTDIR:
            return SHELL_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
            return SHELL_ACCESS_DENIED;
        case ENOMEM:
            return SHELL_OUT_OF_MEMORY;
        case ENOEXEC:
            return SHELL_BAD_FORMAT;
        default:
            return SHELL_NO_ASSOCIATION;
    }
}

std::intptr_t fail_with(int error) {
    errno = error;
    return shell_code(error);
}

std::vector<std::string> split_on_blanks(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t", pos);
        if (start == std::string::npos) break;
        const std::size_t end = text.find_first_of(" \t", start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        pos = end == std::string::npos ? text.size() : end;
    }
    return parts;
}

// Marks every descriptor above standard error close-on-exec, so the started
// program keeps none of ours. Runs in the child: async-signal-safe calls only.
void close_inherited_descriptors(int max_fd) {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */) == 0) return;
#endif
    for (int fd = 3; fd < max_fd; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

int descriptor_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
}

// The grandchild: a new session in the working directory, then exec. Any
// failure is reported as errno through the close-on-exec pipe.
// With exec_fd (not -1) the file open as exec_fd runs, not path: it stays
// open in the new program, so that the interpreter of a "#!" script can read
// it as /dev/fd/N.
[[noreturn]] void exec_detached(const char* path, char* const argv[], const char* working_dir, int report_fd,
                                int max_fd, bool search_path, int exec_fd) {
    sigset_t all{};
    sigemptyset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);
    signal(SIGPIPE, SIG_DFL);
    close_inherited_descriptors(max_fd);
    if (working_dir[0] == '\0' || ::chdir(working_dir) == 0) {
        if (exec_fd >= 0) {
            if (::fcntl(exec_fd, F_SETFD, 0) == 0) ::execveat(exec_fd, "", argv, environ, AT_EMPTY_PATH);
        } else if (search_path) {
            ::execvp(path, argv);
        } else {
            ::execv(path, argv);
        }
    }
    const int error = errno;
    while (::write(report_fd, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

// Starts path with argv as a detached process: fork, setsid, fork again so
// that no zombie of ours remains, exec. Returns 0 when the exec succeeded,
// otherwise the errno of the failing step.
int spawn_detached(const std::string& path, const std::vector<std::string>& args, const std::string& working_dir,
                   bool search_path, int exec_fd = -1) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int max_fd = descriptor_limit();

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return errno;
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return error;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();  // result ignored: a fresh child is never a group leader
        const pid_t grandchild = ::fork();
        if (grandchild == 0)
            exec_detached(path.c_str(), argv.data(), working_dir.c_str(), report[1], max_fd, search_path, exec_fd);
        if (grandchild < 0) {
            const int error = errno;
            while (::write(report[1], &error, sizeof error) < 0 && errno == EINTR) {
            }
        }
        ::_exit(0);
    }
    ::close(report[1]);  // result ignored: only the children write
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // EOF without data: the exec succeeded and closed the pipe.
    int error = 0;
    ssize_t got = 0;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

enum class file_kind { executable, document };

// An ELF binary or a "#!" script runs itself; anything else is a document.
bool read_kind_of(int fd, file_kind& kind, int& error) {
    unsigned char head[4] = {};
    ssize_t got = 0;
    while ((got = ::pread(fd, head, sizeof head, 0)) < 0 && errno == EINTR) {
    }
    error = errno;
    if (got < 0) return false;
    const bool elf = got == 4 && std::memcmp(head,
                                             "\x7f"
                                             "ELF",
                                             4) == 0;
    const bool script = got >= 2 && head[0] == '#' && head[1] == '!';
    kind = elf || script ? file_kind::executable : file_kind::document;
    return true;
}

bool read_kind(const std::string& path, file_kind& kind, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool ok = read_kind_of(fd, kind, error);
    ::close(fd);  // result ignored: read-only descriptor
    return ok;
}

// Gives the file its owner-execute bit; fine when it already has it.
int make_executable(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno;
    if ((info.st_mode & S_IXUSR) != 0) return 0;
    if (::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR) != 0) return errno;
    return 0;
}

std::string absolute_path(const std::string& file) {
    std::error_code error;
    try {
        const std::filesystem::path path = std::filesystem::absolute(file, error);
        return error ? file : path.string();
    } catch (const std::exception&) {  // allocation failure inside the library
        return file;
    }
}

bool looks_like_url(const std::string& file) {
    return file.find("://") != std::string::npos;
}

std::intptr_t open_with_desktop(const std::string& target, const std::string& working_dir) {
    const int error = spawn_detached("xdg-open", {"xdg-open", target}, working_dir, true);
    if (error == 0) return SHELL_OK;
    errno = error;
    return SHELL_NO_ASSOCIATION;
}

std::intptr_t run_executable(const std::string& path, const std::string& parameters, const std::string& working_dir) {
    if (const int error = make_executable(path); error != 0) return fail_with(error);
    std::vector<std::string> args{path};
    for (std::string& part : split_on_blanks(parameters)) args.push_back(std::move(part));
    const int error = spawn_detached(path, args, working_dir, false);
    return error == 0 ? SHELL_OK : fail_with(error);
}

}  // namespace

std::vector<process_entry> snapshot_processes() {
    std::vector<process_entry> entries;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return entries;
    while (const dirent* entry = ::readdir(proc)) {
        process_id pid = 0;
        if (!parse_pid(entry->d_name, pid)) continue;
        const std::string name = exe_base_name(pid);
        if (!name.empty()) entries.push_back({pid, narrow_to_wide(name)});
    }
    ::closedir(proc);  // result ignored: the listing is complete
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return entries;
}

// A pidfd, or a /proc/<pid> directory where the kernel has no pidfd_open.
struct process_handle::state {
    int fd = -1;
    process_id pid = 0;
    ~state() {
        if (fd >= 0) ::close(fd);  // result ignored: nothing to do on failure
    }
};

process_handle::process_handle() = default;

process_handle::process_handle(process_id pid) {
    if (pid <= 0) return;
    int fd = pidfd_open(pid);
    if (fd < 0 && errno == ENOSYS) fd = open_proc_directory(pid);
    if (fd < 0) return;
    state_ = std::make_unique<state>();
    state_->fd = fd;
    state_->pid = pid;
}

process_handle::~process_handle() = default;
process_handle::process_handle(process_handle&& other) noexcept = default;
process_handle& process_handle::operator=(process_handle&& other) noexcept = default;

process_handle::wait_result process_handle::wait(unsigned timeout_ms) {
    if (!state_) return wait_result::failed;
    if (is_proc_directory(state_->fd)) return wait_proc_directory(state_->fd, timeout_ms);
    return wait_pidfd(state_->fd, timeout_ms);
}

std::wstring process_handle::exe_name() const {
    if (!state_) return {};
    const std::string name = exe_base_name(state_->pid);
    // Read after opening: while the opened process still runs, its id names
    // it and no other, so the name is its own.
    const bool alive = is_proc_directory(state_->fd) ? !proc_process_ended(state_->fd)
                                                     : wait_pidfd(state_->fd, 0) == wait_result::timeout;
    return alive ? narrow_to_wide(name) : std::wstring();
}

bool process_handle::terminate() {
    if (!state_) return false;
    if (is_proc_directory(state_->fd)) {
        // The descriptor tells whether the id still names our process.
        if (proc_process_ended(state_->fd)) return false;
        return ::kill(state_->pid, SIGKILL) == 0;
    }
    return ::syscall(SYS_pidfd_send_signal, state_->fd, SIGKILL, nullptr, 0) == 0;
}

std::intptr_t shell_open(const std::string& file, const std::string& parameters, const std::string& working_dir) {
    if (file.empty()) return fail_with(ENOENT);
    if (looks_like_url(file)) return open_with_desktop(file, working_dir);
    const std::string path = absolute_path(file);
    file_kind kind = file_kind::document;
    int error = 0;
    if (!read_kind(path, kind, error)) {
        // A directory can't be read as a file but can be opened by the desktop.
        if (error == EISDIR) return open_with_desktop(path, working_dir);
        return fail_with(error);
    }
    if (kind == file_kind::document) return open_with_desktop(path, working_dir);
    return run_executable(path, parameters, working_dir);
}

namespace linux_backend {

std::intptr_t start_held(int fd, const std::string& path, const std::string& parameters,
                         const std::string& working_dir) {
    file_kind kind = file_kind::document;
    int error = 0;
    if (!read_kind_of(fd, kind, error)) return fail_with(error);
    if (kind == file_kind::document) {
        // The desktop opens a document by its name: only while that name is still the held file.
        struct stat named {};
        struct stat held {};
        if (::lstat(path.c_str(), &named) != 0 || ::fstat(fd, &held) != 0 || named.st_dev != held.st_dev ||
            named.st_ino != held.st_ino) {
            return fail_with(EACCES);
        }
        return open_with_desktop(absolute_path(path), working_dir);
    }
    std::vector<std::string> args{absolute_path(path)};
    for (std::string& part : split_on_blanks(parameters)) args.push_back(std::move(part));
    const int spawned = spawn_detached(args.front(), args, working_dir, false, fd);
    return spawned == 0 ? SHELL_OK : fail_with(spawned);
}

int open_proc_directory(process_id pid) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
    return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool is_proc_directory(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
}

// For a /proc/<pid> descriptor: true once the process is gone or a zombie.
bool proc_process_ended(int dir_fd) {
    const int stat_fd = ::openat(dir_fd, "stat", O_RDONLY | O_CLOEXEC);
    if (stat_fd < 0) return true;  // ESRCH/ENOENT: the process has been reaped
    char buffer[512];
    const ssize_t got = ::read(stat_fd, buffer, sizeof buffer - 1);
    ::close(stat_fd);  // result ignored: read-only descriptor
    if (got <= 0) return true;
    buffer[got] = '\0';
    // "pid (comm) S ...": the state follows the last ')' since comm may hold ')'.
    const char* close_paren = std::strrchr(buffer, ')');
    if (close_paren == nullptr || close_paren[1] == '\0' || close_paren[2] == '\0') return false;
    const char state = close_paren[2];
    return state == 'Z' || state == 'X';
}

using wait_result = process_handle::wait_result;

wait_result wait_proc_directory(int dir_fd, unsigned timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (proc_process_ended(dir_fd)) return wait_result::ended;
        if (std::chrono::steady_clock::now() >= deadline) return wait_result::timeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace linux_backend

}  // namespace platform
