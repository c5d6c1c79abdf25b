// The updater's own files beside it on Linux: exclusive creation without
// following links, the checked reopen, a second reading stream, free space,
// and the held file that is started through its descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/files.h"
#include "platform/linux/process_fallback.h"

namespace platform {
namespace {

// Removals of what is in the way before create_fresh_file gives up: someone
// who puts a name back at once keeps the file from being made, never makes
// us use theirs.
constexpr int FRESH_FILE_TRIES = 4;

void set_error(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

std::string errno_text(int code) {
    return std::strerror(code);
}

// A stream without a stdio buffer over fd (taken over, closed on failure).
std::FILE* stream_of(int fd, const char* mode, std::string* error) {
    std::FILE* file = ::fdopen(fd, mode);
    if (file == nullptr) {
        set_error(error, errno_text(errno));
        ::close(fd);  // result ignored: nothing was written through it
        return nullptr;
    }
    (void)std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

// Why an open file is not a plain, single-link file of this account; empty
// when it is one.
std::string foreign_reason(const struct stat& info) {
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    if (info.st_nlink != 1) return "a file with " + std::to_string(info.st_nlink) + " links";
    if (info.st_uid != ::geteuid()) return "owned by account " + std::to_string(info.st_uid);
    return {};
}

std::mutex free_space_lock;
std::optional<std::uint64_t> free_space_figure;

}  // namespace

std::FILE* create_new_file(const std::string& path, std::string* error) {
    if (path.empty()) {
        set_error(error, "no name");
        return nullptr;
    }
    // O_EXCL also refuses a link at path, dangling or not, without following it.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int code = errno;
        set_error(error, code == EEXIST ? std::string("the name is taken") : errno_text(code));
        return nullptr;
    }
    // The mode asked for may have lost bits to the umask, never gained any.
    return stream_of(fd, "w+b", error);
}

std::FILE* create_fresh_file(const std::string& path, std::string* error) {
    for (int attempt = 0; attempt < FRESH_FILE_TRIES; ++attempt) {
        std::FILE* file = create_new_file(path, error);
        if (file != nullptr) return file;
        if (kind_of_path(path) == path_kind::directory) {
            set_error(error, "a folder is in the way");
            return nullptr;
        }
        // unlink removes a link itself, never what it names.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            set_error(error, "what is in the way cannot be removed: " + errno_text(errno));
            return nullptr;
        }
    }
    set_error(error, "the name was taken again after each removal");
    return nullptr;
}

std::FILE* open_own_file(const std::string& path, std::string* error) {
    // O_NONBLOCK: a FIFO planted at the name would block the open otherwise.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        set_error(error, code == ELOOP ? std::string("a symbolic link") : errno_text(code));
        return nullptr;
    }
    struct stat info {};
    std::string reason = ::fstat(fd, &info) != 0 ? errno_text(errno) : foreign_reason(info);
    if (reason.empty() && ::fcntl(fd, F_SETFL, 0) != 0) reason = errno_text(errno);
    if (!reason.empty()) {
        set_error(error, reason);
        ::close(fd);  // result ignored: nothing was written through it
        return nullptr;
    }
    return stream_of(fd, "r+b", error);
}

bool truncate_file(std::FILE* file) {
    if (file == nullptr || std::fflush(file) != 0) return false;
    if (::ftruncate(::fileno(file), 0) != 0) return false;
    return std::fseek(file, 0, SEEK_SET) == 0;
}

std::FILE* reopen_for_reading(std::FILE* file) {
    if (file == nullptr) return nullptr;
    const int source = ::fileno(file);
    // The descriptor's own entry in /proc opens the same file anew, with a
    // position of its own, whatever its name names by now.
    const std::string link = "/proc/self/fd/" + std::to_string(source);
    const int fd = ::open(link.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat opened {};
    struct stat held {};
    if (::fstat(fd, &opened) != 0 || ::fstat(source, &held) != 0 || opened.st_dev != held.st_dev ||
        opened.st_ino != held.st_ino) {
        ::close(fd);  // result ignored: read-only descriptor
        return nullptr;
    }
    return stream_of(fd, "rb", nullptr);
}

std::optional<std::uint64_t> free_space(const std::string& directory) {
    {
        std::lock_guard<std::mutex> guard(free_space_lock);
        if (free_space_figure) return free_space_figure;
    }
    struct statvfs info {};
    if (::statvfs(directory.empty() ? "." : directory.c_str(), &info) != 0) return std::nullopt;
    // f_bavail: the blocks an account without special rights may still use.
    return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

void override_free_space(std::optional<std::uint64_t> bytes) {
    std::lock_guard<std::mutex> guard(free_space_lock);
    free_space_figure = bytes;
}

// ---- the held file ----

struct held_file::state {
    int fd = -1;  // read-only: a descriptor open for writing would keep the kernel from running the file
    dev_t device = 0;
    ino_t inode = 0;
    ~state() {
        if (fd >= 0) ::close(fd);  // result ignored: read-only descriptor
    }
};

held_file::held_file() = default;
held_file::~held_file() = default;
held_file::held_file(held_file&& other) noexcept = default;
held_file& held_file::operator=(held_file&& other) noexcept = default;

bool held_file::hold(std::FILE* file, const std::string& path) {
    release();
    if (file == nullptr) return false;
    bool ok = std::fflush(file) == 0;
    auto held = std::make_unique<state>();
    const std::string link = "/proc/self/fd/" + std::to_string(::fileno(file));
    held->fd = ::open(link.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat written {};
    struct stat info {};
    ok = ok && held->fd >= 0 && ::fstat(::fileno(file), &written) == 0 && ::fstat(held->fd, &info) == 0 &&
         written.st_dev == info.st_dev && written.st_ino == info.st_ino && foreign_reason(info).empty();
    // The installer needs its owner-execute bit; only this account gets any bit.
    ok = ok && ::fchmod(held->fd, S_IRUSR | S_IWUSR | S_IXUSR) == 0;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) return false;
    held->device = info.st_dev;
    held->inode = info.st_ino;
    state_ = std::move(held);
    path_ = path;
    return true;
}

bool held_file::valid() const {
    return state_ != nullptr;
}

std::string held_file::read_path() const {
    return state_ ? "/proc/self/fd/" + std::to_string(state_->fd) : std::string();
}

bool held_file::place_at(const std::string& target) {
    if (!state_ || target.empty()) return false;
    if (target != path_ && ::rename(path_.c_str(), target.c_str()) != 0) return false;
    // Someone who could rename our name away could have put another file
    // under it just before the move: what now has the name must be ours.
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || info.st_dev != state_->device || info.st_ino != state_->inode) {
        if (target != path_) (void)::unlink(target.c_str());  // what we moved there is not ours: it goes
        return false;
    }
    path_ = target;
    return true;
}

std::intptr_t held_file::start(const std::string& parameters, const std::string& working_dir) {
    if (!state_) {
        errno = EBADF;
        return 2;  // the shell's "file not found"
    }
    struct stat info {};
    if (::fstat(state_->fd, &info) != 0 || !foreign_reason(info).empty()) {
        errno = EPERM;
        return 5;  // the shell's "access denied"
    }
    return linux_backend::start_held(state_->fd, path_, parameters, working_dir);
}

void held_file::release() {
    state_.reset();
    path_.clear();
}

}  // namespace platform
