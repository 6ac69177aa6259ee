#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>

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

// Reads a connected stream socket that it borrows through a buffer of its own: one recv takes
// whatever has arrived, up to the buffer's size, so that a message of many small fields costs
// one system call instead of one per field. A read that still wants at least a buffer's worth
// once the buffered bytes are used up goes straight into its destination. Used by one thread at
// a time.
class SocketReader {
public:
    static constexpr size_t kBufferSize = 32 * 1024;

    explicit SocketReader(int fd) : _fd(fd), _buffer(new uint8_t[kBufferSize]) {}

    int fd() const { return _fd; }

    // Reads exactly size bytes into dst, as recvExactly does.
    RecvStatus read(void* dst, size_t size, size_t* received);

private:
    const int _fd;
    const std::unique_ptr<uint8_t[]> _buffer;
    size_t _begin = 0;  // the buffered bytes not read yet: [_begin, _end)
    size_t _end = 0;
};

// True when the peer has hung up or the socket has failed or been shut down. Never blocks.
bool peerHungUp(int fd);

// Waits until the socket has something to read (data, end of stream or an error).
void waitReadable(int fd);

// True when bytes wait to be read on the socket, or peerHungUp(fd): one system call for both.
// Never blocks.
bool unreadOrHungUp(int fd);

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
