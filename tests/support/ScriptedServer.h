#pragma once

#include <functional>
#include <thread>
#include <vector>

namespace vemo {
namespace test {

// A loopback TCP server that runs a script for each connection it accepts, on its own thread.
// Sockets carry 5-second time-outs, so a script never waits for ever. The listener closes and
// the thread ends on destruction.
class ScriptedServer {
public:
    using Bytes = std::vector<unsigned char>;
    using Script = std::function<void(int fd)>;

    // Accepts up to connections connections, one after the other.
    explicit ScriptedServer(Script script, int connections = 1);
    ~ScriptedServer();

    int port() const { return _port; }
    // Waits until the scripts have run (bounded by the socket time-outs).
    void join();

    // Helpers for scripts; each returns false on failure or time-out.
    static bool readExactly(int fd, Bytes* out, size_t n);
    static bool writeAll(int fd, const Bytes& bytes, size_t chunk = 0);
    // Reads one packet (4-byte little-endian length, then the payload).
    static bool readPacket(int fd, Bytes* payload);
    // The packet framing of payload.
    static Bytes packet(const Bytes& payload);

private:
    int _listener;
    int _port;
    std::thread _thread;
};

}  // namespace test
}  // namespace vemo
