#pragma once

#include <chrono>
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
//
// Idle clients can't lock the others out: a connection counts as on trial until its handler
// says it has done what makes it worth keeping (settle); one on trial past the idle limit is shut
// down, and when every slot is taken the oldest one on trial makes room for the newcomer.
class TcpServer {
public:
    // Serves one accepted, connected socket until it returns, on the connection's own thread.
    // The server owns the socket and closes it afterwards. id is unique within the process.
    using Handler = std::function<void(int fd, unsigned id)>;

    static constexpr size_t kMaxConnections = 256;

    // name says which service in log lines ("camera service"). idleLimitMs: how long a
    // connection may stay on trial; 0 for ever.
    TcpServer(std::string name, Handler handler, uint32_t idleLimitMs = 0);
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

    // The connection id has proven itself: the idle limit no longer applies to it and it never
    // makes room for another. From its handler.
    void settle(unsigned id);

    // Raises the process's soft limit of open descriptors to its hard limit, so that the
    // servers' slots are not cut short by it; returns the soft limit now in force.
    static uint64_t raiseDescriptorLimit();

    // Stops accepting, ends every open connection (its handler sees the peer close) and joins
    // all threads. Returns when nothing of the server runs any more. Not from a handler.
    void stop();

private:
    using Clock = std::chrono::steady_clock;

    struct Connection {
        unsigned id = 0;
        int fd = -1;  // -1 once closed; guarded by _lock
        bool finished = false;
        bool settled = false;  // guarded by _lock
        bool cut = false;      // shut down by the server; guarded by _lock
        Clock::time_point deadline;
        std::thread thread;
    };

    void acceptLoop();
    void admit(int fd);
    void serve(Connection* connection, unsigned id);
    // Joins the threads of connections that have ended. Takes _lock; call without it.
    void reapFinished();
    // Waits up to timeoutMs for the stop request; true when it came.
    bool waitForStop(int timeoutMs);
    // Shuts down the connections on trial past their deadline and returns the milliseconds
    // until the next deadline (-1: none). Takes _lock.
    int cutIdle();
    // Shuts the connection down for its thread to see; _lock is held.
    void cut(Connection* connection, const char* why);

    const std::string _name;
    const Handler _handler;
    const uint32_t _idleLimitMs;
    int _listenFd = -1;
    int _wakeFds[2] = {-1, -1};  // stop() writes into [1] to wake the accept loop
    uint16_t _port = 0;
    std::thread _acceptThread;

    std::mutex _lock;
    std::list<std::unique_ptr<Connection>> _connections;  // guarded by _lock
};

}  // namespace host
}  // namespace vemo
