#pragma once

namespace android {

// A blocking TCP stream. Every operation returns 0 on success and -1 on failure. A read that
// gets no byte, or a write that can place none, for 10 s fails.
class CSocketStream {
public:
    CSocketStream();
    ~CSocketStream();

    // Connects to the dotted IPv4 address host on port and switches Nagle off; a socket the
    // stream held is closed. Text that is not a dotted address fails. The third argument is
    // kept for the callers' sake and has no effect. A failed connect leaves the stream as it
    // was.
    int open(const char* host, int port, int unused);
    // Reads exactly length bytes; the peer closing first is a failure.
    int readFully(void* buffer, unsigned int length);
    // Writes all length bytes.
    int writeFully(const void* buffer, unsigned int length);
    // One read of at most length bytes: the count, 0 at end of stream, or -1.
    int recv(void* buffer, unsigned int length);
    int close();

    bool isOpen() const { return _socket != -1; }

private:
    CSocketStream(const CSocketStream&) = delete;
    CSocketStream& operator=(const CSocketStream&) = delete;

    int _socket;
};

}  // namespace android
