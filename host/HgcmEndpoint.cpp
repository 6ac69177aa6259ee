#include "HgcmEndpoint.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "HgcmChannel.h"
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

HgcmEndpoint::HgcmEndpoint(IHgcmService& service)
    : _service(service), _server("guest-driver endpoint", [this](int fd, unsigned id) {
          HgcmChannel(fd, id, _service).run();
      }) {}

HgcmEndpoint::~HgcmEndpoint() {
    stop();
}

int HgcmEndpoint::start(const std::string& path) {
    std::string socketPath = path;
    if (socketPath.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vemo-hostd.XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) {
            const int err = errno;
            logLine(LogLevel::kError, "guest-driver endpoint: cannot make a directory %s: %s",
                    pattern.c_str(), std::strerror(err));
            return -err;
        }
        _directory = name.data();
        socketPath = _directory + "/hgcm.sock";
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof(addr.sun_path)) {
        logLine(LogLevel::kError, "guest-driver endpoint: socket path %s is longer than %zu bytes",
                socketPath.c_str(), sizeof(addr.sun_path) - 1);
        removeFiles();
        return -ENAMETOOLONG;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        const int err = errno;
        logLine(LogLevel::kError, "guest-driver endpoint: socket: %s", std::strerror(err));
        removeFiles();
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
        logLine(LogLevel::kError, "guest-driver endpoint: cannot listen at %s: %s",
                socketPath.c_str(), std::strerror(err));
        ::close(fd);
        if (bound) {
            ::unlink(addr.sun_path);
        }
        removeFiles();
        return -err;
    }
    _path = socketPath;
    const int adopted = _server.adopt(fd);
    if (adopted != 0) {
        removeFiles();
        return adopted;
    }
    logLine(LogLevel::kInfo, "guest-driver endpoint: listening at %s", _path.c_str());
    return 0;
}

void HgcmEndpoint::stop() {
    _server.stop();
    removeFiles();
}

void HgcmEndpoint::removeFiles() {
    if (!_path.empty()) {
        ::unlink(_path.c_str());
        _path.clear();
    }
    if (!_directory.empty()) {
        ::rmdir(_directory.c_str());
        _directory.clear();
    }
}

}  // namespace host
}  // namespace vemo
