#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "PacketBuffer.h"

namespace vemo {
namespace host {

enum class ReadStatus {
    kPacket,     // a whole packet arrived
    kClosed,     // the peer closed the connection between packets
    kBadLength,  // the length field is 0 or above PacketBuffer::kMaxPayload
    kCutShort,   // the peer closed the connection inside a packet
    kError,      // the socket failed
};

struct ReadResult {
    ReadStatus status = ReadStatus::kPacket;
    uint32_t length = 0;  // the announced payload length, once read
    size_t received = 0;  // bytes of the length field or payload read before the end (kCutShort)
    int error = 0;        // errno (kError)

    // One phrase for a log line, such as "packet length 0".
    std::string describe() const;
};

// Packet framing over a connected stream socket it borrows: a 4-byte little-endian payload
// length, then the payload, the same in both directions. Knows nothing of what payloads mean.
class PacketStream {
public:
    explicit PacketStream(int fd) : _fd(fd) {}

    // Blocks until one whole packet has arrived and leaves its payload in *payload.
    ReadResult read(std::vector<uint8_t>* payload);

    // Sends the whole packet, length and payload, as one write. Returns 0 or a negative errno.
    int write(const PacketBuffer& packet);

private:
    // Reads exactly size bytes; *received says how many arrived on failure.
    ReadStatus readExactly(uint8_t* dst, size_t size, size_t* received, int* error);

    int _fd;
};

}  // namespace host
}  // namespace vemo
