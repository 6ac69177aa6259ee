#include "TcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "Log.h"

namespace vemo {
namespace host {

namespace {

std::atomic<unsigned> gNextConnectionId{1};

std::string peerName(const sockaddr_storage& peer) {
    if (peer.ss_family != AF_INET) {
        return "a local peer";
    }
    const auto& in = reinterpret_cast<const sockaddr_in&>(peer);
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &in.sin_addr, text, sizeof(text));
    return std::string(text) + ":" + std::to_string(ntohs(in.sin_port));
}

}  // namespace

TcpServer::TcpServer(std::string name, Handler handler, uint32_t idleLimitMs)
    : _name(std::move(name)), _handler(std::move(handler)), _idleLimitMs(idleLimitMs) {}

uint64_t TcpServer::raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return before;
        }
    }
    return limit.rlim_cur;
}

TcpServer::~TcpServer() {
    stop();
}

int TcpServer::start(const std::string& address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        logLine(LogLevel::kError, "%s: listen address %s is not a dotted IPv4 address",
                _name.c_str(), logSafe(address).c_str());
        return -EINVAL;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        const int err = errno;
        logLine(LogLevel::kError, "%s: socket: %s", _name.c_str(), std::strerror(err));
        return -err;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    socklen_t length = sizeof(addr);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        const int err = errno;
        logLine(LogLevel::kError, "%s: cannot listen on %s:%u: %s", _name.c_str(), address.c_str(),
                port, std::strerror(err));
        ::close(fd);
        return -err;
    }
    _port = ntohs(addr.sin_port);
    const int adopted = adopt(fd);
    if (adopted != 0) {
        return adopted;
    }
    logLine(LogLevel::kInfo, "%s: listening on %s:%u", _name.c_str(), address.c_str(), _port);
    return 0;
}

int TcpServer::adopt(int listenFd) {
    if (::pipe2(_wakeFds, O_CLOEXEC) != 0) {
        const int err = errno;
        logLine(LogLevel::kError, "%s: pipe: %s", _name.c_str(), std::strerror(err));
        ::close(listenFd);
        return -err;
    }
    _listenFd = listenFd;
    _acceptThread = std::thread(&TcpServer::acceptLoop, this);
    return 0;
}

bool TcpServer::waitForStop(int timeoutMs) {
    pollfd wake{_wakeFds[0], POLLIN, 0};
    return ::poll(&wake, 1, timeoutMs) > 0;
}

void TcpServer::acceptLoop() {
    bool failing = false;
    for (;;) {
        const int timeoutMs = cutIdle();
        pollfd fds[2] = {{_listenFd, POLLIN, 0}, {_wakeFds[0], POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) {
            logLine(LogLevel::kError, "%s: poll: %s", _name.c_str(), std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        reapFinished();
        if (fds[0].revents == 0) {
            continue;
        }
        sockaddr_storage peer{};
        socklen_t length = sizeof(peer);
        const int fd =
            ::accept4(_listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) {
                continue;
            }
            // Out of descriptors or memory: say so once, then retry calmly until it clears.
            if (!failing) {
                logLine(LogLevel::kError, "%s: accept: %s", _name.c_str(), std::strerror(errno));
                failing = true;
            }
            if (waitForStop(100)) {
                return;
            }
            continue;
        }
        failing = false;
        logLine(LogLevel::kDebug, "%s: connection from %s", _name.c_str(), peerName(peer).c_str());
        admit(fd);
    }
}

void TcpServer::admit(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));

    std::lock_guard<std::mutex> guard(_lock);
    size_t open = 0;
    Connection* oldestOnTrial = nullptr;
    for (auto& connection : _connections) {
        if (!connection->finished && !connection->cut) {
            ++open;
            if (!connection->settled && oldestOnTrial == nullptr) {
                oldestOnTrial = connection.get();
            }
        }
    }
    // Connections that were cut still hold their slot until their thread has seen it; the
    // second bound keeps a flood of newcomers from outrunning those threads.
    if (open >= kMaxConnections && oldestOnTrial != nullptr &&
        _connections.size() < 2 * kMaxConnections) {
        cut(oldestOnTrial, "making room for a new connection");
    } else if (open >= kMaxConnections || _connections.size() >= 2 * kMaxConnections) {
        logLine(LogLevel::kWarning, "%s: refusing connection: %zu already open", _name.c_str(),
                open);
        ::close(fd);
        return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    const unsigned id = gNextConnectionId.fetch_add(1);
    connection->id = id;
    connection->deadline = Clock::now() + std::chrono::milliseconds(_idleLimitMs);
    try {
        connection->thread = std::thread(&TcpServer::serve, this, connection.get(), id);
    } catch (const std::system_error& e) {
        logLine(LogLevel::kError, "%s: no thread for conn %u: %s", _name.c_str(), id, e.what());
        ::close(fd);
        return;
    }
    _connections.push_back(std::move(connection));
}

void TcpServer::serve(Connection* connection, unsigned id) {
    _handler(connection->fd, id);
    std::lock_guard<std::mutex> guard(_lock);
    ::close(connection->fd);
    connection->fd = -1;
    connection->finished = true;
}

void TcpServer::settle(unsigned id) {
    std::lock_guard<std::mutex> guard(_lock);
    for (auto& connection : _connections) {
        if (connection->id == id) {
            connection->settled = true;
        }
    }
}

void TcpServer::cut(Connection* connection, const char* why) {
    connection->cut = true;
    if (connection->fd >= 0) {
        // As in stop(): the thread closes the descriptor once its handler has returned.
        ::shutdown(connection->fd, SHUT_RDWR);
    }
    logLine(LogLevel::kDebug, "%s: conn %u closed: %s", _name.c_str(), connection->id, why);
}

int TcpServer::cutIdle() {
    if (_idleLimitMs == 0) {
        return -1;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(_lock);
    int nextMs = -1;
    for (auto& connection : _connections) {
        if (connection->settled || connection->cut || connection->finished) {
            continue;
        }
        if (connection->deadline <= now) {
            cut(connection.get(), "nothing done within the idle limit");
            continue;
        }
        // Rounded up, so that the loop never wakes just before a deadline and spins.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(connection->deadline - now) +
            std::chrono::milliseconds(1);
        const int leftMs = static_cast<int>(left.count());
        nextMs = nextMs < 0 ? leftMs : std::min(nextMs, leftMs);
    }
    return nextMs;
}

void TcpServer::reapFinished() {
    std::list<std::unique_ptr<Connection>> ended;
    {
        std::lock_guard<std::mutex> guard(_lock);
        for (auto it = _connections.begin(); it != _connections.end();) {
            auto next = std::next(it);
            if ((*it)->finished) {
                ended.splice(ended.end(), _connections, it);
            }
            it = next;
        }
    }
    for (auto& connection : ended) {
        connection->thread.join();
    }
}

void TcpServer::stop() {
    if (!_acceptThread.joinable()) {
        return;
    }
    const char wake = 1;
    while (::write(_wakeFds[1], &wake, 1) < 0 && errno == EINTR) {
    }
    _acceptThread.join();

    std::list<std::unique_ptr<Connection>> open;
    {
        std::lock_guard<std::mutex> guard(_lock);
        // Shut down rather than close: the descriptor stays valid until its thread closes it,
        // and a thread blocked in recv or send returns at once.
        for (auto& connection : _connections) {
            if (connection->fd >= 0) {
                ::shutdown(connection->fd, SHUT_RDWR);
            }
        }
        open.swap(_connections);
    }
    for (auto& connection : open) {
        connection->thread.join();
    }
    ::close(_listenFd);
    ::close(_wakeFds[0]);
    ::close(_wakeFds[1]);
    _listenFd = -1;
    _wakeFds[0] = _wakeFds[1] = -1;
    logLine(LogLevel::kInfo, "%s: stopped", _name.c_str());
}

}  // namespace host
}  // namespace vemo
