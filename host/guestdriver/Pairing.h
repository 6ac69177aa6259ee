#pragma once

#include <sys/uio.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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
// Replies are not copied on their way out: the session encodes each into a packet buffer, the
// buffer joins a queue as it is, and the takers send from the queued packets straight to their
// socket. The storage of packets that have been read goes back to the session for later replies,
// so a stream of frames reuses the same few buffers.
//
// Locks: _sessionLock (held while requests are in the session) before _lock (the reply stream
// and the state), never the other way round.
class Pairing {
public:
    // Unread reply bytes beyond which the pairing ends: a guest that sends requests without
    // reading the replies cannot make the host hoard frames.
    static constexpr size_t kMaxPendingReplies = 256u << 20;

    // Most pieces one sendReplyBytes hands over; the rest waits for the next.
    static constexpr size_t kMaxPieces = 16;
    // Packets whose storage is kept for reuse once read.
    static constexpr size_t kSparePackets = 4;

    // sendReplyBytes results besides a count.
    static constexpr int64_t kEnded = -1;
    static constexpr int64_t kPeerGone = -2;
    static constexpr int64_t kSendFailed = -3;

    // Sends pieces[0..count) of reply bytes, total bytes in all, in order; false when they could
    // not be sent. Called without any lock of the pairing held.
    using ReplySink = std::function<bool(const iovec* pieces, size_t count, size_t total)>;

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

    // Waits until reply bytes are pending and no other taker is sending, then hands up to max
    // of them to sink as pieces of the queued packets and returns how many it handed (0 only
    // for a max of 0). The bytes count as taken whether or not sink succeeds; kSendFailed when
    // it did not. With nothing pending: kEnded at once when no session answers any more,
    // kPeerGone as soon as peerGone() (polled while waiting) says the asking side went away.
    // Bytes that were pending when the pairing ended are still handed out. Any thread.
    int64_t sendReplyBytes(size_t max, const ReplySink& sink,
                           const std::function<bool()>& peerGone);

    // Ends the pairing: the session is destroyed, the control socket shut down (so that its
    // thread and the guest see the end) and every waiting taker woken. Any thread, but not
    // from within takeRequestBytes; may wait for a request the session is answering.
    void end();

    // Not yet ended.
    bool live() const;
    uint32_t port() const { return _port; }
    // Unread reply bytes.
    size_t pendingReplyBytes() const;
    // What the pairing's session has done; nothing when there is none (any more). Waits while
    // the session answers a request.
    std::optional<SessionSummary> session() const;

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
    // Queues _reply and puts spare storage in its place; false when too much is pending.
    // _sessionLock is held.
    bool postReply();
    // Drops count bytes from the front of the queue, keeping the storage of packets read as
    // spares. _lock is held.
    void consumeReplies(size_t count);

    HostState& _state;
    const uint32_t _clientId;
    const uint32_t _port;
    const std::string _label;  // "client 5", starts log lines
    const std::string _who;    // "client=5", in the record

    mutable std::mutex _sessionLock;
    std::unique_ptr<Session> _session;  // guarded by _sessionLock; null: none or ended
    FaultPlan _faults;                  // guarded by _sessionLock
    std::vector<uint8_t> _requests;     // guarded by _sessionLock; an incomplete packet
    PacketBuffer _reply;                // guarded by _sessionLock; the next reply's storage

    mutable std::mutex _lock;
    std::condition_variable _changed;
    // Reply packets not read to their end, oldest first, and how much of the first is read.
    // Only a taker that holds _sending removes packets, so the pieces it sends from stay put
    // while it sends without the lock.
    std::deque<PacketBuffer> _replies;  // guarded by _lock
    size_t _replyRead = 0;              // guarded by _lock
    size_t _pending = 0;                // guarded by _lock; unread bytes in _replies
    std::vector<PacketBuffer> _spare;   // guarded by _lock
    bool _sending = false;              // guarded by _lock
    iovec _pieces[kMaxPieces];          // used by the taker that holds _sending
    bool _ended = false;                // guarded by _lock
    bool _answering;                    // guarded by _lock; a session takes requests
    int _controlFd;                     // guarded by _lock; -1 once detached
    bool _controlBusy = false;          // guarded by _lock
};

}  // namespace host
}  // namespace vemo
