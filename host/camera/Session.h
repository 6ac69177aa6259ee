#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CallLog.h"
#include "CallStatus.h"
#include "CameraDevice.h"
#include "HostState.h"
#include "Message.h"
#include "PacketBuffer.h"

namespace vemo {
namespace host {

// What a session has done so far, as another thread may look at it.
struct SessionSummary {
    std::string label;  // "conn 3", "client 5"
    bool instance = false;
    std::optional<uint32_t> camera;  // selected with setCameraIx
    uint32_t sampleStore = 0;        // 0: no sample saved yet
    uint64_t requests = 0;
    // Of the selected camera: what the guest chose and pictures taken so far.
    std::string previewSize;
    std::string previewFormat;
    uint64_t pictures = 0;
    std::vector<CallNote> calls;  // the last calls, oldest first
};

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

    // Any thread; it does not wait for a request being answered.
    SessionSummary summary() const;

private:
    CallStatus run(const std::string& function);
    CallStatus initThis();

    HostState& _state;
    const std::string _label;
    std::unique_ptr<CameraDevice> _device;
    // Kept from call to call so that their storage is reused.
    Message _request;
    Message _reply;

    mutable std::mutex _summaryLock;
    SessionSummary _summary;  // guarded by _summaryLock; brought up to date after each request
    CallLog _calls;           // guarded by _summaryLock
};

}  // namespace host
}  // namespace vemo
