#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "FrameSize.h"
#include "PixelFormat.h"

namespace vemo {
namespace host {
namespace test {

struct Yuv {
    int y = 0;
    int u = 0;
    int v = 0;
};

// Y, U and V of pixel (x, y) of a frame, found by Android's layout rules for the format
// (NV21, YV12 or YUYV), worked out here independently of the host's FrameLayout.
Yuv yuvAt(PixelFormat format, const std::vector<uint8_t>& frame, FrameSize size, int x, int y);

// The picture number the test pattern's counter shows, read from the brightness of the centre
// of each segment; nothing when a digit is not one of 0 to 9. luma(x, y) is 0 to 255.
std::optional<uint32_t> readCounter(FrameSize size, const std::function<int(int x, int y)>& luma);
// Of a frame in NV21, YV12 or YUYV.
std::optional<uint32_t> readCounter(PixelFormat format, const std::vector<uint8_t>& frame,
                                    FrameSize size);

struct DecodedJpeg {
    FrameSize size;
    std::vector<uint8_t> rgb;  // R, G, B per pixel
    std::vector<uint8_t> gray;
};
// A JPEG file decoded with libjpeg-turbo; nothing when it isn't one.
std::optional<DecodedJpeg> decodeJpeg(const uint8_t* file, size_t size);

}  // namespace test
}  // namespace host
}  // namespace vemo
