#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "FrameRate.h"
#include "FrameSize.h"

namespace vemo {
namespace host {

// A rectangle of pixels in a frame.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const Rect& other) const {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
};

// A picture held in I420 planes: Y at full size, U and V at half the width and height (rounded
// up), each with its own stride.
struct PlanarPicture {
    const uint8_t* planes[3] = {};  // Y, U, V
    int strides[3] = {};
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t number = 0;  // tells a source's pictures apart: the same number is the same picture
};

// Where a camera's pictures come from: the moving test pattern, still pictures, a folder of
// pictures, a clip; a webcam later. A source holds one current picture, numbered from 0 when the
// source is made, and draws it at whatever size it is asked for; conversion to the guest's
// formats and colour adjustment happen after it (FrameConverter). One source serves one camera
// instance and is used by one thread at a time; what several instances show alike (decoded
// pictures, a clip's index, a pipeline) they share through SourceContent, which makes the
// sources.
class IFrameSource {
public:
    virtual ~IFrameSource() = default;

    // Takes the next picture; it replaces the current one. Returns its number.
    virtual uint64_t capture() = 0;
    // Takes the picture the camera's clock shows now, the tick-th at ownRate() since the source
    // was chosen, so that every instance of the camera shows the same picture at the same
    // moment however late it opened; sources that don't run on that clock take the next.
    virtual uint64_t captureTick(uint64_t tick) {
        (void)tick;
        return capture();
    }
    // Number of the current picture.
    virtual uint64_t number() const = 0;
    // Waits, up to limit, until a picture newer than the current one has come, for sources whose
    // pictures arrive by themselves (a pipeline's), so that a capture on the camera's clock that
    // falls just before a picture arrives takes it rather than the one before. Others don't wait.
    virtual void awaitNewer(std::chrono::nanoseconds limit) { (void)limit; }

    // Draws the current picture into canvas, an ARGB image (B, G, R, A bytes) of size with stride
    // bytes per row, and appends the rectangles it changed to *damage. When previous holds the
    // number of the picture that this source last drew into this canvas, only what differs from
    // that picture need be drawn; without it the whole canvas is drawn.
    virtual void render(uint8_t* canvas, int stride, FrameSize size,
                        std::optional<uint64_t> previous, std::vector<Rect>* damage) = 0;

    // The current picture in I420 planes, when the source holds it so (a decoded video): frames in
    // the YUV formats are then letterboxed straight from it, with no ARGB canvas between. Null
    // when the source draws its pictures; render must work either way.
    virtual const PlanarPicture* planarPicture() const { return nullptr; }

    // The rate the source's pictures come at by their nature (a clip's, a folder's); nothing
    // when they come at whatever rate the camera runs at.
    virtual std::optional<FrameRate> ownRate() const { return std::nullopt; }
};

}  // namespace host
}  // namespace vemo
