#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vemo {
namespace host {

// Accepts TCP connections on one address (or stream connections on a listening socket it is
// handed) and serves each on a thread of its own, so that a slow or stuck client holds up
// nobody else. Knows nothing of what travels on the connections.
class TcpServer {
public:
    // Serves one accepted, connected socket until it returns, on the connection's own thread.
    // The server owns the socket and closes it afterwards. id is unique within the process.
    using Handler = std::function<void(int fd, unsigned id)>;

    static constexpr size_t kMaxConnections = 256;

    // name says which service in log lines ("camera service").
    TcpServer(std::string name, Handler handler);
    ~TcpServer();

    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Listens on address (dotted IPv4) and port (0: a free port) and starts accepting. Returns 0
    // or a negative errno, logged here. Called once.
    int start(const std::string& address, uint16_t port);

    // Takes over a non-blocking socket that is bound and listening already (a Unix socket, say)
    // and starts accepting on it. Returns 0 or a negative errno, logged here. Called once,
    // instead of start.
    int adopt(int listenFd);

    // The port listened on, once started.
    uint16_t port() const { return _port; }

    // Stops accepting, ends every open connection (its handler sees the peer close) and joins
    // all threads. Returns when nothing of the server runs any more. Not from a handler.
    void stop();

private:
    struct Connection {
        int fd = -1;  // -1 once closed; guarded by _lock
        bool finished = false;
        std::thread thread;
    };

    void acceptLoop();
    void admit(int fd);
    void serve(Connection* connection, unsigned id);
    // Joins the threads of connections that have ended. Takes _lock; call without it.
    void reapFinished();
    // Waits up to timeoutMs for the stop request; true when it came.
    bool waitForStop(int timeoutMs);

    const std::string _name;
    const Handler _handler;
    int _listenFd = -1;
    int _wakeFds[2] = {-1, -1};  // stop() writes into [1] to wake the accept loop
    uint16_t _port = 0;
    std::thread _acceptThread;

    std::mutex _lock;
    std::list<std::unique_ptr<Connection>> _connections;  // guarded by _lock
};

}  // namespace host
}  // namespace vemo
