#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vemo {
namespace host {

// An outgoing packet in one piece: the 4-byte little-endian payload length, then the payload.
// The payload is written in place, so a reply is encoded once, straight into what goes out.
// Storage only grows and is reused from packet to packet; growing does not clear it. Moving a
// packet hands its storage over and leaves the source empty, so a packet can be queued for
// sending and its storage come back for a later one without a copy.
class PacketBuffer {
public:
    // Largest payload either side accepts in one packet.
    static constexpr size_t kMaxPayload = 64u << 20;

    PacketBuffer() = default;
    PacketBuffer(PacketBuffer&& other) noexcept;
    PacketBuffer& operator=(PacketBuffer&& other) noexcept;
    PacketBuffer(const PacketBuffer&) = delete;
    PacketBuffer& operator=(const PacketBuffer&) = delete;

    // Makes room for a payload of size bytes, writes the length and returns the payload area,
    // whose previous content is undefined.
    uint8_t* preparePayload(size_t size);

    const uint8_t* packet() const { return _data.get(); }
    size_t packetSize() const { return _size; }
    const uint8_t* payload() const { return _data.get() + 4; }
    size_t payloadSize() const { return _size > 0 ? _size - 4 : 0; }
    // Bytes of storage held, whatever the current packet's size.
    size_t capacity() const { return _capacity; }

private:
    std::unique_ptr<uint8_t[]> _data;
    size_t _capacity = 0;
    size_t _size = 0;
};

}  // namespace host
}  // namespace vemo
