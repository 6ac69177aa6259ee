#include "PacketBuffer.h"

#include <utility>

namespace vemo {
namespace host {

PacketBuffer::PacketBuffer(PacketBuffer&& other) noexcept
    : _data(std::move(other._data)),
      _capacity(std::exchange(other._capacity, 0)),
      _size(std::exchange(other._size, 0)) {}

PacketBuffer& PacketBuffer::operator=(PacketBuffer&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    _data = std::move(other._data);
    _capacity = std::exchange(other._capacity, 0);
    _size = std::exchange(other._size, 0);
    return *this;
}

uint8_t* PacketBuffer::preparePayload(size_t size) {
    const size_t needed = size + 4;
    if (needed > _capacity) {
        // new[] without () leaves the bytes uninitialised: the encoder overwrites all of them.
        _data.reset(new uint8_t[needed]);
        _capacity = needed;
    }
    _size = needed;
    const uint32_t length = static_cast<uint32_t>(size);
    _data[0] = static_cast<uint8_t>(length);
    _data[1] = static_cast<uint8_t>(length >> 8);
    _data[2] = static_cast<uint8_t>(length >> 16);
    _data[3] = static_cast<uint8_t>(length >> 24);
    return _data.get() + 4;
}

}  // namespace host
}  // namespace vemo
