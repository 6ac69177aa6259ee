#include "UnixListener.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Log.h"

namespace vemo {
namespace host {

namespace {

// A socket file that nobody listens at any more.
bool isStaleSocket(const sockaddr_un& addr) {
    struct stat info {};
    if (::lstat(addr.sun_path, &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const bool refused =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 &&
        errno == ECONNREFUSED;
    ::close(probe);
    return refused;
}

}  // namespace

int listenUnix(const std::string& path, const std::string& service) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        logLine(LogLevel::kError, "%s: socket path %s is longer than %zu bytes", service.c_str(),
                path.c_str(), sizeof(addr.sun_path) - 1);
        return -ENAMETOOLONG;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        const int err = errno;
        logLine(LogLevel::kError, "%s: socket: %s", service.c_str(), std::strerror(err));
        return -err;
    }
    const auto bindAddr = [&] {
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
    };
    bool bound = bindAddr();
    if (!bound && errno == EADDRINUSE && isStaleSocket(addr)) {
        ::unlink(addr.sun_path);
        bound = bindAddr();
    }
    if (!bound || ::listen(fd, 64) != 0) {
        const int err = errno;
        logLine(LogLevel::kError, "%s: cannot listen at %s: %s", service.c_str(), path.c_str(),
                std::strerror(err));
        ::close(fd);
        if (bound) {
            ::unlink(addr.sun_path);
        }
        return -err;
    }
    return fd;
}

}  // namespace host
}  // namespace vemo
