#include "Pairing.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "Log.h"
#include "SocketIo.h"

namespace vemo {
namespace host {

namespace {

// How often a waiting taker looks whether its peer has gone: a condition variable cannot tell.
constexpr std::chrono::milliseconds kPeerCheckInterval(100);

}  // namespace

Pairing::Pairing(HostState& state, uint32_t clientId, uint32_t port, int controlFd)
    : _state(state),
      _clientId(clientId),
      _port(port),
      _label("client " + std::to_string(clientId)),
      _who("client=" + std::to_string(clientId)),
      _session(port == kCameraServicePort ? std::make_unique<Session>(state, _label) : nullptr),
      _faults(state.config.faults, state.requests),
      _answering(_session != nullptr),
      _controlFd(controlFd) {}

bool Pairing::takeRequestBytes(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> guard(_sessionLock);
    if (_session == nullptr) {
        return false;
    }
    _requests.insert(_requests.end(), data, data + size);
    return answerPackets();
}

bool Pairing::answerPackets() {
    size_t at = 0;
    while (_requests.size() - at >= 4) {
        const uint32_t length = loadU32Le(&_requests[at]);
        if (length == 0 || length > PacketBuffer::kMaxPayload) {
            logLine(LogLevel::kWarning, "%s: closed: request packet length %u", _label.c_str(),
                    length);
            finish();
            return false;
        }
        if (_requests.size() - at - 4 < length) {
            break;
        }
        const uint8_t* payload = &_requests[at + 4];
        at += 4 + static_cast<size_t>(length);
        _state.record.request(_who, payload, length);
        const bool last = _faults.takeRequest();
        if (_faults.answers()) {
            std::string fault;
            if (!_session->handle(payload, length, &_reply, &fault)) {
                logLine(LogLevel::kWarning, "%s: closed: %s", _label.c_str(), fault.c_str());
                finish();
                return false;
            }
            _faults.shape(&_reply);
            if (!postReply()) {
                logLine(LogLevel::kWarning, "%s: closed: guest leaves %zu reply bytes unread",
                        _label.c_str(), kMaxPendingReplies);
                finish();
                return false;
            }
        }
        if (last) {
            logLine(LogLevel::kInfo, "%s: closed after %u requests (close-after fault)",
                    _label.c_str(), _state.config.faults.closeAfter);
            finish();
            return true;
        }
    }
    _requests.erase(_requests.begin(), _requests.begin() + static_cast<ptrdiff_t>(at));
    return true;
}

bool Pairing::postReply() {
    std::lock_guard<std::mutex> guard(_lock);
    if (_pending + _reply.packetSize() > kMaxPendingReplies) {
        return false;
    }
    _pending += _reply.packetSize();
    _replies.push_back(std::move(_reply));
    if (!_spare.empty()) {
        _reply = std::move(_spare.back());
        _spare.pop_back();
    }
    _changed.notify_all();
    return true;
}

void Pairing::consumeReplies(size_t count) {
    _pending -= count;
    while (count > 0) {
        const size_t left = _replies.front().packetSize() - _replyRead;
        const size_t n = std::min(left, count);
        _replyRead += n;
        count -= n;
        if (n == left) {
            if (_spare.size() < kSparePackets) {
                _spare.push_back(std::move(_replies.front()));
            }
            _replies.pop_front();
            _replyRead = 0;
        }
    }
}

int64_t Pairing::sendReplyBytes(size_t max, const ReplySink& sink,
                                const std::function<bool()>& peerGone) {
    std::unique_lock<std::mutex> lock(_lock);
    for (;;) {
        if (!_sending && (_pending > 0 || (max == 0 && _answering))) {
            break;
        }
        if (!_sending && !_answering) {
            return kEnded;
        }
        if (peerGone()) {
            return kPeerGone;
        }
        _changed.wait_for(lock, kPeerCheckInterval);
    }
    size_t count = 0;
    size_t total = 0;
    size_t offset = _replyRead;
    for (auto it = _replies.begin(); it != _replies.end() && total < max && count < kMaxPieces;
         ++it, offset = 0) {
        const size_t n = std::min(it->packetSize() - offset, max - total);
        _pieces[count++] = iovec{const_cast<uint8_t*>(it->packet()) + offset, n};
        total += n;
    }
    _sending = true;
    lock.unlock();
    const bool sent = sink(_pieces, count, total);
    lock.lock();
    consumeReplies(total);
    _sending = false;
    _changed.notify_all();
    return sent ? static_cast<int64_t>(total) : kSendFailed;
}

void Pairing::markEnded() {
    std::lock_guard<std::mutex> guard(_lock);
    if (!_ended) {
        _ended = true;
        _answering = false;
        if (_controlFd >= 0) {
            ::shutdown(_controlFd, SHUT_RDWR);
        }
    }
    _changed.notify_all();
}

void Pairing::end() {
    markEnded();
    std::lock_guard<std::mutex> guard(_sessionLock);
    _session.reset();
    _requests.clear();
}

void Pairing::finish() {
    markEnded();
    _session.reset();
    _requests.clear();
}

bool Pairing::live() const {
    std::lock_guard<std::mutex> guard(_lock);
    return !_ended;
}

size_t Pairing::pendingReplyBytes() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _pending;
}

std::optional<SessionSummary> Pairing::session() const {
    std::lock_guard<std::mutex> guard(_sessionLock);
    if (_session == nullptr) {
        return std::nullopt;
    }
    return _session->summary();
}

void Pairing::setControlBusy(bool busy) {
    std::lock_guard<std::mutex> guard(_lock);
    _controlBusy = busy;
    _changed.notify_all();
}

void Pairing::detachControl() {
    std::lock_guard<std::mutex> guard(_lock);
    _controlFd = -1;
    _controlBusy = false;
    _changed.notify_all();
}

void Pairing::settleControl() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::unique_lock<std::mutex> lock(_lock);
    // Bytes arriving and the peer hanging up wake nobody, so they are looked at every few ms.
    while (!_ended && _controlFd >= 0 && (_controlBusy || unreadOrHungUp(_controlFd))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return;
        }
        _changed.wait_for(lock, std::chrono::milliseconds(5));
    }
}

}  // namespace host
}  // namespace vemo
