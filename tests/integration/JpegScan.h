#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace vemo {
namespace test {

// The length of the JPEG file at the start of block (a compressed-image callback holds the file
// and room to spare): its segments, then the entropy-coded data up to the end marker. The EXIF
// thumbnail's own end marker sits inside a segment and is skipped with it. 0 when there is no
// whole file.
inline size_t jpegLength(const std::vector<uint8_t>& block) {
    if (block.size() < 4 || block[0] != 0xFF || block[1] != 0xD8) {
        return 0;
    }
    size_t p = 2;
    while (p + 4 <= block.size() && block[p] == 0xFF) {
        const uint8_t marker = block[p + 1];
        p += 2 + ((static_cast<size_t>(block[p + 2]) << 8) | block[p + 3]);
        if (marker == 0xDA) {
            break;
        }
    }
    for (; p + 1 < block.size(); ++p) {
        if (block[p] == 0xFF && block[p + 1] == 0xD9) {
            return p + 2;
        }
    }
    return 0;
}

}  // namespace test
}  // namespace vemo
