#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vemo {
namespace host {

// Bounds-checked cursor over bytes it does not own. Every read either succeeds whole and
// advances, or fails and leaves the position where it was; nothing is read past the end.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : _data(data), _size(size) {}

    size_t offset() const { return _offset; }
    size_t remaining() const { return _size - _offset; }

    bool peekU8(uint8_t* out) const {
        if (remaining() < 1) {
            return false;
        }
        *out = _data[_offset];
        return true;
    }

    bool readU8(uint8_t* out) {
        if (!peekU8(out)) {
            return false;
        }
        ++_offset;
        return true;
    }

    bool readU16Le(uint16_t* out) {
        if (remaining() < 2) {
            return false;
        }
        const uint8_t* p = _data + _offset;
        *out = static_cast<uint16_t>(p[0] | (p[1] << 8));
        _offset += 2;
        return true;
    }

    bool readU32Le(uint32_t* out) {
        if (remaining() < 4) {
            return false;
        }
        const uint8_t* p = _data + _offset;
        *out = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
        _offset += 4;
        return true;
    }

    // Text up to the next 0 byte; the 0 byte is consumed but not part of the text.
    bool readCString(std::string_view* out) {
        const size_t left = remaining();
        const void* nul = left > 0 ? std::memchr(_data + _offset, 0, left) : nullptr;
        if (nul == nullptr) {
            return false;
        }
        const size_t length =
            static_cast<size_t>(static_cast<const uint8_t*>(nul) - _data) - _offset;
        *out = std::string_view(reinterpret_cast<const char*>(_data + _offset), length);
        _offset += length + 1;
        return true;
    }

    bool readBytes(size_t count, const uint8_t** out) {
        if (remaining() < count) {
            return false;
        }
        *out = _data + _offset;
        _offset += count;
        return true;
    }

private:
    const uint8_t* _data;
    size_t _size;
    size_t _offset = 0;
};

}  // namespace host
}  // namespace vemo
