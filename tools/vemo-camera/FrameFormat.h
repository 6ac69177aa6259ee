#pragma once

// The frame formats a camera client receives, by their parameter names, and their conversion
// with libyuv: to RGB for pictures, to I420 for clips.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace vemo {
namespace tools {

enum class FrameFormat {
    kNv21,  // "yuv420sp": Y plane, then interleaved V and U at half resolution
    kYv12,  // "yuv420p": Y, then V, then U planes, with the platform's row strides
    kYuyv,  // "yuv422i-yuyv": Y0 U Y1 V for each pair of pixels
};

// The format of a parameter value; false for any other.
bool frameFormatOf(const std::string& name, FrameFormat* format);
const char* frameFormatName(FrameFormat format);

// Bytes of one width x height frame (even sides). YV12 rows are aligned as the platform lays
// them out: Y stride align(width, 16), chroma stride align(Y stride / 2, 16).
size_t frameBytes(FrameFormat format, int width, int height);

// Packed RGB888 (R, G, B), rows of width * 3 bytes. False when size is not frameBytes().
bool frameToRgb(FrameFormat format, const uint8_t* frame, size_t size, int width, int height,
                std::vector<uint8_t>* rgb);
// I420: the Y, U and V planes, each without row padding. False when size is not frameBytes().
bool frameToI420(FrameFormat format, const uint8_t* frame, size_t size, int width, int height,
                 std::vector<uint8_t>* i420);

}  // namespace tools
}  // namespace vemo
