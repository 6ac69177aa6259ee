#pragma once

// A stand-in for the host's guest-driver endpoint: a Unix socket server that speaks the wire of
// vemo/hgcm_wire.h byte by byte, written apart from the emulation so that each checks the
// other. Every connection runs a script on a thread of its own; sockets carry time-outs, so no
// script waits for ever.

#include <stdint.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/TempFolder.h"

namespace vemo {
namespace test {

using Bytes = std::vector<unsigned char>;

// One parameter of a call as it arrived: its bytes when they came inline.
struct WireParameter {
    uint32_t type = 0;
    uint32_t size = 0;
    bool isInline = false;
    Bytes bytes;
};

// One message of the guest. For CONNECT: locationType and the 128 name bytes; DISCONNECT:
// clientId; CALL: clientId, function and the parameters.
struct GuestMessage {
    uint32_t op = 0;
    uint32_t locationType = 0;
    Bytes name;
    uint32_t clientId = 0;
    uint32_t function = 0;
    std::vector<WireParameter> parameters;

    // The name up to its first NUL, or a parameter's bytes as text up to the first NUL.
    std::string nameText() const;
    std::string text(size_t index) const;
};

// The endpoint's side of one connection.
class EndpointPeer {
public:
    explicit EndpointPeer(int fd) : _fd(fd) {}

    // False at the end of the stream, on a time-out or on bytes that are no guest message.
    bool receive(GuestMessage* message);
    bool sendResult(int32_t status, uint32_t clientId);
    bool sendDone(int32_t result);
    bool sendWrite(uint32_t index, uint32_t offset, const Bytes& bytes);
    // Asks for bytes of a parameter; *status is the guest's answer (0 or -1), *bytes what
    // followed it.
    bool read(uint32_t index, uint32_t offset, uint32_t length, int32_t* status, Bytes* bytes);
    bool sendRaw(const Bytes& bytes);
    // True when the guest closed its end (nothing more arrives within the time-out).
    bool atEnd();

    int fd() const { return _fd; }

private:
    bool receiveExactly(void* at, size_t size);

    int _fd;
};

class FakeEndpoint {
public:
    using Script = std::function<void(EndpointPeer&)>;

    // Listens at a fresh path and runs script for each of up to connections connections.
    explicit FakeEndpoint(Script script, int connections = 1);
    ~FakeEndpoint();

    FakeEndpoint(const FakeEndpoint&) = delete;
    FakeEndpoint& operator=(const FakeEndpoint&) = delete;

    const std::string& path() const { return _path; }
    // Waits until every accepted connection's script has ended (bounded by the time-outs).
    void join();
    int accepted() const;

private:
    TempFolder _folder;
    std::string _path;
    int _listener = -1;
    std::thread _acceptor;
    mutable std::mutex _lock;
    std::vector<std::thread> _scripts;  // guarded by _lock
    int _accepted = 0;                  // guarded by _lock
};

// A host service that answers everything and records what the guest sent: a connect with the
// client id (or the refusal status), a disconnect with 0, a call after fetching the bytes of
// every parameter that did not come inline (so that the record holds them all) and, for call
// 10, after delivering the next queued reply into parameter 1 as count and data. Thread-safe.
class RecordingHost {
public:
    uint32_t clientId = 42;
    int32_t connectStatus = 0;
    int32_t callResult = 0;

    // Bytes the next call 10 delivers, one entry per call; a call with none left delivers a
    // count of 0.
    void queueReply(Bytes reply);

    // The script of one connection: serves until the guest closes its end.
    void serve(EndpointPeer& peer);
    FakeEndpoint::Script script() {
        return [this](EndpointPeer& peer) { serve(peer); };
    }

    std::vector<GuestMessage> messages() const;

private:
    mutable std::mutex _lock;
    std::deque<Bytes> _replies;           // guarded by _lock
    std::vector<GuestMessage> _messages;  // guarded by _lock
};

Bytes bytesOf(const std::string& text, bool withNul = true);

}  // namespace test
}  // namespace vemo
