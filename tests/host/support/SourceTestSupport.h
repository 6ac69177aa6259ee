#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FrameTestSupport.h"
#include "PictureDecoder.h"
#include "support/TempFolder.h"

namespace vemo {
namespace host {
namespace test {

using vemo::test::TempFolder;

// Colours as 0xAARRGGBB and as the frames show them (BT.601, studio range).
struct Colour {
    uint32_t argb;
    Yuv yuv;
};
constexpr Colour kRed = {0xFFFF0000, {82, 90, 240}};
constexpr Colour kGreen = {0xFF00FF00, {145, 54, 34}};
constexpr Colour kBlue = {0xFF0000FF, {41, 240, 110}};
constexpr Colour kWhite = {0xFFFFFFFF, {235, 128, 128}};
constexpr Colour kBlack = {0xFF000000, {16, 128, 128}};
// The quadrants of a test picture: top left, top right, bottom left, bottom right.
constexpr Colour kQuadrants[4] = {kRed, kGreen, kBlue, kWhite};

// A width x height picture in four quadrants of kQuadrants, turned by shift places (the colour of
// quadrant i is kQuadrants[(i + shift) % 4]), so that pictures of one series tell themselves
// apart.
Picture quadrants(uint32_t width, uint32_t height, int shift = 0);

// Files of a picture; false when they can't be written. The PNG file keeps the alpha bytes.
bool writePng(const std::string& path, const Picture& picture);
bool writeJpeg(const std::string& path, const Picture& picture);
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);

// A YUV4MPEG2 clip: the header line with parameters (e.g. "W160 H120 F10:1 C420jpeg"), then one
// FRAME with the planes of each picture, made with the chroma layout the parameters name
// (420, 422, 444 or mono) from the quadrant colours of quadrants(w, h, k) for frame k.
// fullRange writes luma and chroma in the full range, as "XCOLORRANGE=FULL" says.
std::vector<uint8_t> y4mClip(const std::string& parameters, uint32_t width, uint32_t height,
                             int frames, const std::string& chroma = "420", bool fullRange = false);

// Where a picture of width x height lands, letterboxed, in a frame: worked out here on its own.
struct Placement {
    int x, y, width, height;
    // The centre of quadrant i of the placed picture.
    std::pair<int, int> quadrantCentre(int i) const {
        return {x + width / 4 + (i % 2) * width / 2, y + height / 4 + (i / 2) * height / 2};
    }
};

}  // namespace test
}  // namespace host
}  // namespace vemo
