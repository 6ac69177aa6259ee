#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "HostState.h"
#include "Session.h"
#include "TcpServer.h"

namespace vemo {
namespace host {

// The camera service on TCP (port 10072 by default): packets framed with their length, each
// connection one session with its own "CameraDevice" instance. A connection that sends
// something malformed is closed with one log line; the others go on being served. The faults of
// the configuration (refuse, close-after, stall, malformed, byte-per-transfer) apply to every
// connection, and every request goes into the host's record as "request conn=<id> ...". A
// connection that has created no instance within the idle limit is closed (TcpServer).
class CameraService {
public:
    // state must outlive the service.
    explicit CameraService(HostState& state);

    // See TcpServer::start.
    int start(const std::string& address, uint16_t port) { return _server.start(address, port); }
    uint16_t port() const { return _server.port(); }
    void stop() { _server.stop(); }

    struct ConnectionSummary {
        unsigned id = 0;
        std::string peer;  // "address:port"
        SessionSummary session;
    };
    // The connections open now, by id. Any thread.
    std::vector<ConnectionSummary> connections() const;

private:
    struct Connection {
        std::string peer;
        const Session* session;
    };

    // Runs on the connection's own thread.
    void serve(int fd, unsigned id);

    HostState& _state;
    mutable std::mutex _lock;
    std::map<unsigned, Connection> _connections;  // guarded by _lock
    // Last: its threads use the members above until it has stopped.
    TcpServer _server;
};

}  // namespace host
}  // namespace vemo
