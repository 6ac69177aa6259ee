#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FaultPlan.h"
#include "HostState.h"
#include "PacketBuffer.h"
#include "Session.h"

namespace vemo {
namespace host {

// Service port that an open record names to reach the camera service.
constexpr uint32_t kCameraServicePort = 10072;

// One open of an HGCM client by a control socket: the session its requests go to and the bytes
// in flight each way. Request bytes come from call 9 on the endpoint thread of the client's
// driver handle; reply bytes leave through call 10 on that thread or through read records on
// the control socket's thread; the end may come from either, or from shutdown.
//
// Locks: _sessionLock (held while requests are in the session) before _lock (the reply stream
// and the state), never the other way round.
class Pairing {
public:
    // Unread reply bytes beyond which the pairing ends: a guest that sends requests without
    // reading the replies cannot make the host hoard frames.
    static constexpr size_t kMaxPendingReplies = 256u << 20;

    // takeReplyBytes results besides a count.
    static constexpr int64_t kEnded = -1;
    static constexpr int64_t kPeerGone = -2;

    // port 10072 gives the pairing a camera session, any other none. controlFd is the control
    // socket, borrowed until detachControl.
    Pairing(HostState& state, uint32_t clientId, uint32_t port, int controlFd);

    Pairing(const Pairing&) = delete;
    Pairing& operator=(const Pairing&) = delete;

    uint32_t clientId() const { return _clientId; }

    // Call 9, on the endpoint thread of the client's handle. Appends the bytes to the request
    // stream and answers every packet that is now complete, the replies going to the reply
    // stream. Returns false when no session takes the bytes: there never was one, the pairing
    // has ended, or the bytes ended it (a malformed packet, logged here).
    bool takeRequestBytes(const uint8_t* data, size_t size);

    // Waits until reply bytes are pending, then moves up to max of them to the end of *out and
    // returns how many. With nothing pending: kEnded at once when no session answers any more,
    // kPeerGone as soon as peerGone() (polled while waiting) says the asking side went away.
    // Bytes that were pending when the pairing ended are still handed out. Any thread.
    int64_t takeReplyBytes(size_t max, std::vector<uint8_t>* out,
                           const std::function<bool()>& peerGone);

    // Ends the pairing: the session is destroyed, the control socket shut down (so that its
    // thread and the guest see the end) and every waiting taker woken. Any thread, but not
    // from within takeRequestBytes; may wait for a request the session is answering.
    void end();

    // Not yet ended.
    bool live() const;

    // The control socket's thread: busy while it takes a record off the socket, until the
    // record is recorded and done with (see settleControl).
    void setControlBusy(bool busy);
    // The control socket's thread, before it returns and the socket is closed.
    void detachControl();

    // Waits, up to a second, until the control socket's thread has taken every record the guest
    // sent so far. The guest sends its close record and then, with no answer to wait for, goes
    // on through the driver; this keeps what the host does (and records) in the guest's order.
    void settleControl();

private:
    // Marks the end, shuts the control socket down and wakes the takers. Takes _lock.
    void markEnded();
    // end() from within takeRequestBytes: _sessionLock is held.
    void finish();
    // Answers the complete packets in _requests. _sessionLock is held.
    bool answerPackets();
    // Appends a reply packet to the reply stream; false when too much is pending.
    bool postReply(const PacketBuffer& reply);

    HostState& _state;
    const uint32_t _clientId;
    const std::string _label;  // "client 5", starts log lines
    const std::string _who;    // "client=5", in the record

    std::mutex _sessionLock;
    std::unique_ptr<Session> _session;  // guarded by _sessionLock; null: none or ended
    FaultPlan _faults;                  // guarded by _sessionLock
    std::vector<uint8_t> _requests;     // guarded by _sessionLock; an incomplete packet
    PacketBuffer _reply;                // guarded by _sessionLock

    mutable std::mutex _lock;
    std::condition_variable _changed;
    std::vector<uint8_t> _replies;  // guarded by _lock; bytes before _replyRead are taken
    size_t _replyRead = 0;          // guarded by _lock
    bool _ended = false;            // guarded by _lock
    bool _answering;                // guarded by _lock; a session takes requests
    int _controlFd;                 // guarded by _lock; -1 once detached
    bool _controlBusy = false;      // guarded by _lock
};

}  // namespace host
}  // namespace vemo
