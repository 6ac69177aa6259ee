#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "FrameSize.h"
#include "FrameSource.h"

namespace vemo {
namespace host {

// How pictures of another shape fill a frame: letterboxed. The whole picture is scaled, without
// distortion, to the largest size that fits, centred, and the rest of the frame is black bars
// (above and below a wider picture, left and right of a narrower one). Nothing of the picture
// is cut off, so a code near its edge stays readable. The picture's rectangle has even
// coordinates and sides, so the bars end on whole 2x2 chroma blocks.
class PictureFit {
public:
    static constexpr uint32_t kBarColour = 0xFF000000;

    // Where a picture of width x height lands in a frame of size.
    static Rect fit(uint32_t width, uint32_t height, FrameSize size);

    // Draws the ARGB picture (width x height, stride bytes a row) letterboxed into canvas, an
    // ARGB image of size with canvasStride bytes a row. Scaling is libyuv's.
    static void draw(const uint8_t* argb, int stride, uint32_t width, uint32_t height,
                     uint8_t* canvas, int canvasStride, FrameSize size);
    // Draws a picture of width x height that toArgb writes in ARGB (to argb, stride bytes a
    // row) letterboxed into canvas: straight into the canvas when it lands at its own size,
    // else into *scratch first and scaled from there.
    static void drawConverted(uint32_t width, uint32_t height,
                              const std::function<void(uint8_t* argb, int stride)>& toArgb,
                              std::vector<uint8_t>* scratch, uint8_t* canvas, int canvasStride,
                              FrameSize size);
    // Draws the I420 picture letterboxed into canvas, as drawConverted does.
    static void drawPlanar(const PlanarPicture& picture, std::vector<uint8_t>* scratch,
                           uint8_t* canvas, int canvasStride, FrameSize size);
    // The bars around rect in a frame of size: above, below, left and right of it; a bar may be
    // empty.
    static std::array<Rect, 4> bars(const Rect& rect, FrameSize size);
    // Fills the bars around rect.
    static void drawBars(const Rect& rect, uint8_t* canvas, int canvasStride, FrameSize size);
};

}  // namespace host
}  // namespace vemo
