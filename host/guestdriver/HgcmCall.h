#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SocketIo.h"

namespace vemo {
namespace host {

// One parameter of a call as the guest described it.
struct HgcmParam {
    uint32_t type = 0;  // VMMDevHGCMParmType_*
    uint32_t size = 0;
    bool inlined = false;        // its bytes came with the call
    std::vector<uint8_t> bytes;  // the inline bytes
};

// A call of the guest in flight: its header, its parameters, and the way to the guest memory
// that they describe (READ and WRITE on the driver handle's connection, which it borrows).
// Made by the channel and handed to the service, on the connection's thread.
//
// Small WRITEs are held back and go to the guest with whatever is sent next: the next READ, a
// large WRITE or the DONE that completes the call, in one send. The guest, which takes the
// host's messages in order until DONE, then wakes once for the lot instead of once per message;
// the order of the messages on the wire is the order of the calls here.
class HgcmCall {
public:
    // WRITEs of at most this many bytes are held back, as long as no more than kMaxHeld bytes
    // of messages are held in all.
    static constexpr size_t kMaxHeldWrite = 4096;
    static constexpr size_t kMaxHeld = 64 * 1024;

    // held is the channel's, reused from call to call so that a call allocates nothing for it.
    HgcmCall(SocketReader& wire, std::vector<uint8_t>& held, uint32_t clientId, uint32_t function,
             std::vector<HgcmParam> params)
        : _wire(wire),
          _held(held),
          _clientId(clientId),
          _function(function),
          _params(std::move(params)) {
        _held.clear();
    }

    uint32_t clientId() const { return _clientId; }
    uint32_t function() const { return _function; }
    size_t paramCount() const { return _params.size(); }
    const HgcmParam& param(size_t ix) const { return _params[ix]; }
    // A parameter that points at guest memory (physical or linear address), not a value.
    bool isAddress(size_t ix) const;

    // Copies length bytes at offset of parameter ix to dst: from the inline bytes, or by asking
    // the guest. False when the range lies outside the parameter, the guest cannot give it or
    // the connection broke (then also broken()).
    bool read(size_t ix, size_t offset, size_t length, uint8_t* dst);
    // Writes length bytes at offset of parameter ix into the guest's memory (held back when
    // small). False when the range lies outside the parameter or the connection broke (then
    // also broken()); a held WRITE that cannot be sent breaks the call when it goes.
    bool write(size_t ix, size_t offset, const uint8_t* src, size_t length);
    // The same for the count pieces one after another, sent from where they lie.
    static constexpr size_t kMaxWritePieces = 32;
    bool write(size_t ix, size_t offset, const iovec* pieces, size_t count);
    // The text of parameter ix up to its first NUL, which must come within maxLength + 1 bytes.
    bool readText(size_t ix, size_t maxLength, std::string* text);

    // True, and broken() from then on, once the guest has hung up: for a call that waits.
    bool guestGone();

    // Sends the held WRITEs and DONE with the call's result; false, and broken(), when they
    // could not be sent. The channel's, once the service is done with the call.
    bool complete(int32_t result);

    // The connection can carry nothing more; the channel ends it without answering the call.
    bool broken() const { return !_broken.empty(); }
    // Why, for the one log line.
    const std::string& brokenWhy() const { return _broken; }

private:
    bool inRange(size_t ix, size_t offset, size_t length) const;
    void breakOff(std::string why);
    // Sends the held messages and then pieces[1..count) in one go; pieces[0] is filled in with
    // the held ones. what names the message for the log when the send fails.
    bool sendAfterHeld(iovec* pieces, size_t count, const char* what);

    SocketReader& _wire;
    std::vector<uint8_t>& _held;  // WRITE messages not sent yet, in order
    const uint32_t _clientId;
    const uint32_t _function;
    const std::vector<HgcmParam> _params;
    std::string _broken;
};

}  // namespace host
}  // namespace vemo
