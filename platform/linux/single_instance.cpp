// The machine-wide single-instance marker on Linux: a Unix socket bound to a
// name in the abstract namespace. The kernel frees the name when the last
// descriptor closes, so a process that dies in any way leaves nothing behind.
#include "platform/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/text.h"

namespace platform {
namespace {

constexpr std::string_view NAME_PREFIX = "tamsa-instance:";

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// The socket name for a marker name. A name too long for sun_path is
// shortened to its head plus a hash of the whole name. TAMSA_INSTANCE_SCOPE,
// when set, makes a marker of its own, so that test runs on one machine never
// meet each other's updaters; a normal start has no scope.
std::string socket_name(const std::wstring& name) {
    std::string text = std::string(NAME_PREFIX) + wide_to_utf8(name);
    const char* scope = std::getenv("TAMSA_INSTANCE_SCOPE");
    if (scope != nullptr && scope[0] != 0) {
        text += '@';
        text += scope;
    }
    constexpr std::size_t room = sizeof(sockaddr_un::sun_path) - 1;  // the leading zero byte
    if (text.size() <= room) return text;
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(text)));
    text.resize(room - 17);
    text += '#';
    text += hash;
    return text;
}

single_instance::result result_of(int error) {
    if (error == EADDRINUSE) return single_instance::result::already_exists;
    if (error == EACCES || error == EPERM) return single_instance::result::access_denied;
    return single_instance::result::failed;
}

}  // namespace

// The bound socket that holds the name.
struct single_instance::state {
    int fd = -1;
    ~state() {
        if (fd >= 0) ::close(fd);  // result ignored: the name is released either way
    }
};

single_instance::single_instance(const std::wstring& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error_ = errno;
        result_ = result_of(error_);
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = socket_name(name);
    // sun_path[0] stays 0: the abstract namespace, no file in the file system.
    std::memcpy(address.sun_path + 1, text.data(), text.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        error_ = errno;
        result_ = result_of(error_);
        ::close(fd);  // result ignored: the socket was never bound
        return;
    }
    state_ = std::make_unique<state>();
    state_->fd = fd;
    result_ = result::created;
}

single_instance::~single_instance() = default;

}  // namespace platform
