#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

namespace vemo {
namespace host {

enum class RecvStatus {
    kDone,    // every byte asked for arrived
    kClosed,  // the peer closed (or the socket was shut down) first
    kError,   // the socket failed; errno says why
};

// Blocking helpers for a connected stream socket they borrow; EINTR is retried.

// Reads exactly size bytes into dst. *received says how many arrived, also on failure.
RecvStatus recvExactly(int fd, void* dst, size_t size, size_t* received);

// Sends all size bytes, at most maxPerSend of them with one send (the byte-per-transfer fault
// sends them one by one). Returns 0 or a negative errno.
int sendAll(int fd, const void* data, size_t size, size_t maxPerSend = SIZE_MAX);

// Sends the count pieces one after another as if they were one block, from where they lie,
// with as few sends as the socket allows; at most maxPerSend bytes go with one send. The
// pieces are used up as they go (their bases and lengths change). Returns 0 or a negative errno.
int sendAllv(int fd, iovec* pieces, size_t count, size_t maxPerSend = SIZE_MAX);

// True when the peer has hung up or the socket has failed or been shut down. Never blocks.
bool peerHungUp(int fd);

// Waits until the socket has something to read (data, end of stream or an error).
void waitReadable(int fd);

// True when bytes wait to be read on the socket. Never blocks.
bool hasUnreadBytes(int fd);

inline uint32_t loadU32Le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint8_t* storeU32Le(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
    return p + 4;
}

}  // namespace host
}  // namespace vemo
