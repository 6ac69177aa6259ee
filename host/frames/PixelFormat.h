#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "FrameSize.h"

namespace vemo {
namespace host {

// Pixel formats of the frames the host hands out.
enum class PixelFormat {
    kNV21,    // "yuv420sp": Y plane, then one plane of interleaved V and U at half resolution
    kYV12,    // "yuv420p": Y plane, then V, then U, with Android's stride rules (see FrameLayout)
    kYUYV,    // "yuv422i-yuyv": Y0 U Y1 V for each pair of pixels
    kRGB888,  // R, G, B bytes per pixel: what preview window buffers hold
    kARGB,    // B, G, R, A bytes per pixel (libyuv's ARGB): the host's own working format
};

// The format of a preview or video stream named as the guest names it; nothing for any other
// name.
std::optional<PixelFormat> streamFormatFromName(std::string_view name);
// The guest's name of a stream format; the other formats have names of the host's own.
std::string_view formatName(PixelFormat format);

// Where the planes of one frame lie in its bytes. Planes follow one another without gaps; rows
// within a plane may be padded to the stride, and padding bytes are 0.
struct FrameLayout {
    struct Plane {
        size_t offset = 0;
        uint32_t stride = 0;  // bytes from one row to the next
    };

    PixelFormat format = PixelFormat::kARGB;
    FrameSize size;
    size_t bytes = 0;
    // Plane 0 is Y or the only plane. NV21: plane 1 is VU. YV12: plane 1 is V, plane 2 is U, each
    // of height / 2 rows; Y stride = align(width, 16), V and U stride = align(Y stride / 2, 16).
    Plane planes[3];
    int planeCount = 1;

    static FrameLayout of(PixelFormat format, FrameSize size);
};

}  // namespace host
}  // namespace vemo
