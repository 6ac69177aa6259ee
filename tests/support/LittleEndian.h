#pragma once

// Little-endian words and length-prefixed packets as the host's wire and the guest driver's wire
// lay them out, for tests that build or read those bytes themselves.

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vemo {
namespace test {

inline uint32_t loadLe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

inline void storeLe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline void appendLe32(std::vector<uint8_t>* bytes, uint32_t value) {
    bytes->resize(bytes->size() + 4);
    storeLe32(bytes->data() + bytes->size() - 4, value);
}

// The values as consecutive words.
inline std::vector<uint8_t> le32Words(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> bytes;
    for (const uint32_t value : values) {
        appendLe32(&bytes, value);
    }
    return bytes;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The payload with its 4-byte length in front.
inline std::vector<uint8_t> lengthPrefixed(const std::vector<uint8_t>& payload) {
    return concat({le32Words({static_cast<uint32_t>(payload.size())}), payload});
}

}  // namespace test
}  // namespace vemo
