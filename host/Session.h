#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "CallStatus.h"
#include "CameraDevice.h"
#include "HostState.h"
#include "Message.h"
#include "PacketBuffer.h"

namespace vemo {
namespace host {

// The remote-object conversation of one client connection, whatever carries its packets: one
// request payload in, one reply payload out. It owns the connection's instance, created by
// "__initThis" and deleted by "__deleteThis", and hands every other function to it. Knows
// nothing of sockets. Used by one thread at a time.
class Session {
public:
    // state must outlive the session. label starts the session's log lines ("conn 3").
    Session(HostState& state, std::string label);

    // Answers one request. The reply goes into *reply as a whole packet, length in front. Returns
    // false when the request is not a well-formed message: *fault then names what is wrong, no
    // reply is made and the caller ends the connection. Logs failed calls, not faults.
    bool handle(const uint8_t* data, size_t size, PacketBuffer* reply, std::string* fault);

    bool hasInstance() const { return _device != nullptr; }

private:
    CallStatus run(const std::string& function);
    CallStatus initThis();

    HostState& _state;
    const std::string _label;
    std::unique_ptr<CameraDevice> _device;
    // Kept from call to call so that their storage is reused.
    Message _request;
    Message _reply;
};

}  // namespace host
}  // namespace vemo
