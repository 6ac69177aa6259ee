#pragma once

#include <stdint.h>

#include <memory>

namespace android {

// Frames the packets of a byte stream: a 4-byte little-endian length, then that many payload
// bytes. The stream itself lies behind ISource, so that the framing is the same over a socket
// and over bytes in memory.
class CPacketReader {
public:
    class ISource {
    public:
        virtual ~ISource() {}
        // Reads exactly length bytes; 0, or -1 when the stream fails or ends first.
        virtual int readFully(void* buffer, unsigned int length) = 0;
    };

    CPacketReader();

    // One packet: its payload length, with *pkt on the payload, which stays valid until the
    // next receive. 0 with *pkt NULL when the stream failed or the length is 0; -1 with *pkt
    // NULL when the length is above kMaxPacketLength or can't be allocated, after which the
    // bytes that follow can no longer be framed.
    int receive(ISource* source, unsigned char** pkt);

private:
    // The last payload; only grows.
    std::unique_ptr<unsigned char[]> _reply;
    uint32_t _reply_capacity;
};

}  // namespace android
