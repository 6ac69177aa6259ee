#pragma once

// Pictures for the imaging tests, and a libjpeg decoder as the independent reader of the JPEG
// data written.

#include <stdint.h>

#include <vector>

namespace vemo {
namespace test {

struct Yuv {
    uint8_t y, u, v;
};

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> ycbcr;  // three samples per pixel, without a colour conversion

    Yuv at(int x, int y) const;
};

// Decodes with libjpeg; false, without leaving the process, when the data isn't a JPEG file.
bool decodeJpeg(const std::vector<uint8_t>& file, DecodedImage* image);

// An NV21 picture of the size with noise in it, as the platform's encoder compresses it.
std::vector<uint8_t> encodedPicture(int width, int height, int quality = 90);

}  // namespace test
}  // namespace vemo
