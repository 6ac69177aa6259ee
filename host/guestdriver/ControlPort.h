#pragma once

#include <cstdint>
#include <string>

#include "ClientTable.h"
#include "HostState.h"
#include "TcpServer.h"

namespace vemo {
namespace host {

// The control port (TCP, 10088 by default), the other half of an open camera's connection.
// It reads 13-byte records: u8 command, u64 LE HGCM client id, u32 LE argument.
//
//   1 open   argument: service port. Pairs the client with this socket and a session of that
//            service (10072, the camera service; any other port pairs without a session).
//            Answer: 4 bytes, u32 0.
//   2 close  Ends the pairing and its session; the host closes the socket.
//   3 read   argument: count. Sends exactly count bytes of the client's reply stream, waiting
//            for them (a read that cannot be completed closes the socket).
//
// A socket that closes without a close record ends its pairing the same way. A record that
// does not fit (an unknown command or client, a second open, a read or close of another
// client) closes the socket with one log line, ending its pairing if it has one. A socket that
// has not paired within the idle limit is closed (TcpServer).
class ControlPort {
public:
    static constexpr size_t kRecordSize = 13;
    static constexpr uint8_t kOpen = 1;
    static constexpr uint8_t kClose = 2;
    static constexpr uint8_t kRead = 3;

    // state and clients must outlive the port.
    ControlPort(HostState& state, ClientTable& clients);

    // See TcpServer::start.
    int start(const std::string& address, uint16_t port) { return _server.start(address, port); }
    uint16_t port() const { return _server.port(); }
    void stop() { _server.stop(); }

private:
    // Runs on the connection's own thread.
    void serve(int fd, unsigned id);
    // Sends count bytes of the pairing's reply stream over fd; false with *why when it cannot.
    bool sendReplies(int fd, Pairing& pairing, uint32_t count, std::string* why);

    HostState& _state;
    ClientTable& _clients;
    TcpServer _server;
};

}  // namespace host
}  // namespace vemo
