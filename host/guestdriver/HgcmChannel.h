#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "IHgcmService.h"
#include "SocketIo.h"

namespace vemo {
namespace host {

// The host's end of one guest driver handle: the wire of vemo/hgcm_wire.h over a connected
// Unix stream socket that it borrows. It reads CONNECT, DISCONNECT and CALL, hands them to the
// service and answers with RESULT, or READ and WRITE and then DONE. It reads through a buffer
// (SocketReader), so that a whole CALL usually arrives with one recv. Everything the guest sends
// is checked against the wire's limits before it is used; a message that breaks them ends the
// connection with one log line, and the handle's clients with it.
class HgcmChannel {
public:
    // connected, when set, is called after each CONNECT that the service accepts.
    HgcmChannel(int fd, unsigned handle, IHgcmService& service,
                std::function<void()> connected = {});

    // Serves the connection until the guest closes it or breaks the wire. On the connection's
    // own thread.
    void run();

private:
    // Each returns false when the connection is to end; *why then says why, or stays empty
    // when the guest simply went away.
    bool serveConnect(std::string* why);
    bool serveDisconnect(std::string* why);
    bool serveCall(std::string* why);
    bool readParams(uint32_t count, std::vector<HgcmParam>* params, std::string* why);
    bool receive(void* dst, size_t size, const char* what, std::string* why);
    bool send(const uint8_t* data, size_t size, std::string* why);

    SocketReader _wire;
    std::vector<uint8_t> _held;  // the held WRITEs of the call in flight (HgcmCall)
    const unsigned _handle;
    const std::string _label;  // "hgcm handle 4", starts log lines
    IHgcmService& _service;
    const std::function<void()> _connected;
};

}  // namespace host
}  // namespace vemo
