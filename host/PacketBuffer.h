#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vemo {
namespace host {

// An outgoing packet in one piece: the 4-byte little-endian payload length, then the payload.
// The payload is written in place, so a reply is encoded once, straight into what goes out.
// Storage only grows and is reused from packet to packet; growing does not clear it.
class PacketBuffer {
public:
    // Largest payload either side accepts in one packet.
    static constexpr size_t kMaxPayload = 64u << 20;

    // Makes room for a payload of size bytes, writes the length and returns the payload area,
    // whose previous content is undefined.
    uint8_t* preparePayload(size_t size);

    const uint8_t* packet() const { return _data.get(); }
    size_t packetSize() const { return _size; }
    const uint8_t* payload() const { return _data.get() + 4; }
    size_t payloadSize() const { return _size > 0 ? _size - 4 : 0; }

private:
    std::unique_ptr<uint8_t[]> _data;
    size_t _capacity = 0;
    size_t _size = 0;
};

}  // namespace host
}  // namespace vemo
