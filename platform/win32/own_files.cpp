// The updater's own files beside it on Windows: exclusive creation without
// following reparse points, files only this account (and the system's
// administrators) may open, the checked reopen, a second reading handle, free
// space, and the held file that nobody can write, rename or delete until it
// has been started.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>
#include <shellapi.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/files.h"

namespace platform {
namespace {

constexpr int FRESH_FILE_TRIES = 4;
// Full access for the owner, the system and the administrators; nothing
// inherited from a folder that others may write.
const wchar_t* const OWN_FILE_DACL = L"D:P(A;;FA;;;OW)(A;;FA;;;SY)(A;;FA;;;BA)";

void set_error(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

std::string code_text(DWORD code) {
    return "system error " + std::to_string(code);
}

std::wstring wide_path(const std::string& path) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
    return wide;
}

// A stdio stream without a buffer over handle (taken over, closed on failure).
std::FILE* stream_of(HANDLE handle, bool writable, std::string* error) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), (writable ? _O_RDWR : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        set_error(error, "no descriptor for the file");
        ::CloseHandle(handle);  // result ignored: nothing was written through it
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, writable ? "w+b" : "rb");
    if (file == nullptr) {
        set_error(error, std::strerror(errno));
        ::_close(fd);  // closes the handle too
        return nullptr;
    }
    (void)std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

HANDLE handle_of(std::FILE* file) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
}

// One SID the token names (TokenUser or TokenOwner); empty when it cannot be read.
std::vector<unsigned char> token_sid(HANDLE token, TOKEN_INFORMATION_CLASS which) {
    DWORD size = 0;
    (void)::GetTokenInformation(token, which, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, which, buffer.data(), size, &size)) return {};
    return buffer;
}

// Owned by this account: by its user, or by the owner new objects of this
// process get (the administrators group for an elevated administrator).
bool owned_by_this_account(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    bool same = false;
    HANDLE token = nullptr;
    if (owner != nullptr && ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        const std::vector<unsigned char> user = token_sid(token, TokenUser);
        const std::vector<unsigned char> default_owner = token_sid(token, TokenOwner);
        same = (!user.empty() && ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) ||
               (!default_owner.empty() &&
                ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(default_owner.data())->Owner));
        ::CloseHandle(token);  // result ignored: query-only handle
    }
    ::LocalFree(descriptor);
    return same;
}

// Why an open handle is not a plain, single-link file of this account;
// empty when it is one.
std::string foreign_reason(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info)) return "not a file";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "a link or junction";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "not a regular file";
    if (info.nNumberOfLinks != 1) return "a file with " + std::to_string(info.nNumberOfLinks) + " links";
    if (!owned_by_this_account(file)) return "owned by another account";
    return {};
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

std::mutex free_space_lock;
std::optional<std::uint64_t> free_space_figure;

}  // namespace

std::FILE* create_new_file(const std::string& path, std::string* error) {
    if (path.empty()) {
        set_error(error, "no name");
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(OWN_FILE_DACL, SDDL_REVISION_1, &descriptor, nullptr)) {
        attributes.lpSecurityDescriptor = descriptor;
    }
    // CREATE_NEW fails on any name that is taken, a link included; nobody
    // else may write or delete the file while it is open.
    HANDLE file = ::CreateFileW(wide_path(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &attributes,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD code = ::GetLastError();
    if (descriptor != nullptr) ::LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) {
        set_error(error, code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? std::string("the name is taken")
                                                                                   : code_text(code));
        return nullptr;
    }
    return stream_of(file, true, error);
}

std::FILE* create_fresh_file(const std::string& path, std::string* error) {
    for (int attempt = 0; attempt < FRESH_FILE_TRIES; ++attempt) {
        std::FILE* file = create_new_file(path, error);
        if (file != nullptr) return file;
        if (kind_of_path(path) == path_kind::directory) {
            set_error(error, "a folder is in the way");
            return nullptr;
        }
        // A link or junction goes itself, never what it names.
        if (!delete_file(path) && kind_of_path(path) != path_kind::none) {
            set_error(error, "what is in the way cannot be removed: " + code_text(::GetLastError()));
            return nullptr;
        }
    }
    set_error(error, "the name was taken again after each removal");
    return nullptr;
}

std::FILE* open_own_file(const std::string& path, std::string* error) {
    HANDLE file = ::CreateFileW(wide_path(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_error(error, code_text(::GetLastError()));
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const std::string reason = foreign_reason(file, info);
    if (!reason.empty()) {
        set_error(error, reason);
        ::CloseHandle(file);  // result ignored: nothing was written through it
        return nullptr;
    }
    std::FILE* stream = stream_of(file, true, error);
    // "w+b" on a descriptor truncates nothing; reading starts at the first byte.
    return stream;
}

bool truncate_file(std::FILE* file) {
    if (file == nullptr || std::fflush(file) != 0) return false;
    if (::_chsize_s(::_fileno(file), 0) != 0) return false;
    return std::fseek(file, 0, SEEK_SET) == 0;
}

std::FILE* reopen_for_reading(std::FILE* file) {
    if (file == nullptr) return nullptr;
    // A new handle of the same file with a position of its own; it shares
    // the writer's access so that the writer keeps working.
    HANDLE reader =
        ::ReOpenFile(handle_of(file), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (reader == INVALID_HANDLE_VALUE) return nullptr;
    return stream_of(reader, false, nullptr);
}

std::optional<std::uint64_t> free_space(const std::string& directory) {
    {
        std::lock_guard<std::mutex> guard(free_space_lock);
        if (free_space_figure) return free_space_figure;
    }
    ULARGE_INTEGER available{};
    const std::wstring wide = wide_path(directory.empty() ? std::string(".") : directory);
    if (!::GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    // The bytes this account may use, its quota included.
    return static_cast<std::uint64_t>(available.QuadPart);
}

void override_free_space(std::optional<std::uint64_t> bytes) {
    std::lock_guard<std::mutex> guard(free_space_lock);
    free_space_figure = bytes;
}

// ---- the held file ----
//
// While it is written the file is open for reading and writing without
// delete sharing. Before it is moved and started, that handle gives way to
// one for reading and deleting that shares reading only: the installer's own
// open (read and execute, sharing read and delete) still works, any open for
// writing or deleting (a rename is one) fails. Between the two the file
// allows no other account to open it at all (its own access list), and the
// new handle must name the same file, still with one link.

struct held_file::state {
    std::FILE* writer = nullptr;
    HANDLE held = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION id{};
    ~state() {
        if (writer != nullptr) (void)std::fclose(writer);  // flushed when it was taken
        if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
    }
    // Trades the writing handle for the holding one.
    bool settle(const std::string& path) {
        if (held != INVALID_HANDLE_VALUE) return true;
        if (writer == nullptr) return false;
        const bool closed = std::fclose(writer) == 0;
        writer = nullptr;
        held = ::CreateFileW(wide_path(path).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (held == INVALID_HANDLE_VALUE) return false;
        BY_HANDLE_FILE_INFORMATION now{};
        if (!closed || !foreign_reason(held, now).empty() || !same_file(now, id)) {
            ::CloseHandle(held);
            held = INVALID_HANDLE_VALUE;
            return false;
        }
        return true;
    }
};

held_file::held_file() = default;
held_file::~held_file() = default;
held_file::held_file(held_file&& other) noexcept = default;
held_file& held_file::operator=(held_file&& other) noexcept = default;

bool held_file::hold(std::FILE* file, const std::string& path) {
    release();
    if (file == nullptr) return false;
    auto held = std::make_unique<state>();
    held->writer = file;
    if (std::fflush(file) != 0 || !foreign_reason(handle_of(file), held->id).empty()) return false;
    state_ = std::move(held);
    path_ = path;
    return true;
}

bool held_file::valid() const {
    return state_ != nullptr;
}

std::string held_file::read_path() const {
    // Open for reading by name while it is held (readers share writing).
    return state_ ? path_ : std::string();
}

bool held_file::place_at(const std::string& target) {
    if (!state_ || target.empty() || !state_->settle(path_)) return false;
    if (target == path_) return true;
    const std::wstring wide = wide_path(target);
    // The rename goes through the held handle: it moves exactly this file.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + wide.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, wide.data(), wide.size() * sizeof(wchar_t));
    if (!::SetFileInformationByHandle(state_->held, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        return false;
    }
    path_ = target;
    return true;
}

std::intptr_t held_file::start(const std::string& parameters, const std::string& working_dir) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!state_ || !state_->settle(path_) || !foreign_reason(state_->held, info).empty()) {
        errno = ERROR_ACCESS_DENIED;
        return 5;  // the shell's "access denied"
    }
    // By name, while the handle keeps that name on this very file.
    HINSTANCE result = ::ShellExecuteA(nullptr, "open", path_.c_str(), parameters.c_str(),
                                       working_dir.empty() ? nullptr : working_dir.c_str(), SW_SHOWNORMAL);
    const auto value = reinterpret_cast<std::intptr_t>(result);
    if (value <= 32) errno = static_cast<int>(::GetLastError());
    return value;
}

void held_file::release() {
    state_.reset();
    path_.clear();
}

}  // namespace platform
