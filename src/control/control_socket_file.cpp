#include "control/control_socket_file.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

namespace tarnel {

namespace {

// Clients waiting to be accepted; connections past it are refused by the system until the
// station has taken some (it takes them between seconds).
constexpr int kListenBacklog = 64;

sockaddr_un address_of(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        throw ControlSocketError(path.empty()
                                     ? "no path given"
                                     : "the path is longer than " +
                                           std::to_string(sizeof address.sun_path - 1) + " bytes");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

UniqueDescriptor new_socket() {
    UniqueDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket) {
        throw ControlSocketError(std::strerror(errno));
    }
    return socket;
}

// Binds with the mode 0660 from the start, so that nobody else can connect before the chmod.
int bind_private(int descriptor, const sockaddr_un& address) {
    const mode_t previous = umask(0117);
    const int bound =
        ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bind_error = errno;
    umask(previous);
    errno = bind_error;
    return bound;
}

enum class Holder { kNobody, kLiveStation, kGone };

// Who holds the socket file at path: nobody answers (a stale file), a process that accepts
// connections, or the file went away meanwhile. Throws for a file that is not a socket, and for
// a probe that fails otherwise (no permission, for example).
Holder holder_of(const std::string& path, const sockaddr_un& address) {
    struct stat file {};
    if (lstat(path.c_str(), &file) != 0) {
        if (errno == ENOENT) {
            return Holder::kGone;
        }
        throw ControlSocketError(std::strerror(errno));
    }
    if (!S_ISSOCK(file.st_mode)) {
        throw ControlSocketError("a file that is not a socket is in the way");
    }
    const UniqueDescriptor probe = new_socket();
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EAGAIN || errno == EINPROGRESS) {
        return Holder::kLiveStation;  // accepted, or its backlog is full: it is alive
    }
    if (errno == ECONNREFUSED) {
        return Holder::kNobody;
    }
    if (errno == ENOENT) {
        return Holder::kGone;
    }
    throw ControlSocketError(std::strerror(errno));
}

}  // namespace

ClaimedSocket claim_control_socket(const std::string& path) {
    const sockaddr_un address = address_of(path);
    ClaimedSocket claimed;
    claimed.listener = new_socket();
    if (bind_private(claimed.listener.get(), address) != 0) {
        if (errno != EADDRINUSE) {
            throw ControlSocketError(std::strerror(errno));
        }
        switch (holder_of(path, address)) {
            case Holder::kLiveStation:
                throw ControlSocketError("another running station answers on it");
            case Holder::kNobody:
                if (unlink(path.c_str()) != 0 && errno != ENOENT) {
                    throw ControlSocketError("the stale socket file cannot be removed: " +
                                             std::string(std::strerror(errno)));
                }
                break;
            case Holder::kGone:
                break;
        }
        if (bind_private(claimed.listener.get(), address) != 0) {
            throw ControlSocketError(std::strerror(errno));
        }
    }
    struct stat file {};
    if (chmod(path.c_str(), 0660) != 0 || lstat(path.c_str(), &file) != 0 ||
        ::listen(claimed.listener.get(), kListenBacklog) != 0) {
        const std::string reason = std::strerror(errno);
        unlink(path.c_str());
        throw ControlSocketError(reason);
    }
    claimed.device = file.st_dev;
    claimed.inode = file.st_ino;
    return claimed;
}

void release_control_socket(const std::string& path, const ClaimedSocket& claimed) {
    struct stat file {};
    if (lstat(path.c_str(), &file) == 0 && S_ISSOCK(file.st_mode) &&
        file.st_dev == claimed.device && file.st_ino == claimed.inode) {
        unlink(path.c_str());
    }
}

}  // namespace tarnel
