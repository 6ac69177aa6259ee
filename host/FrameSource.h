#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FrameSize.h"
#include "HostConfig.h"

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

// Where a camera's pictures come from: the moving test pattern today; still images, clips and a
// webcam later. A source holds one current picture, numbered from 0 when the source is made, and
// draws it at whatever size it is asked for; conversion to the guest's formats, scaling and colour
// adjustment happen after it (FrameConverter). One source serves one camera instance and is used
// by one thread at a time.
class IFrameSource {
public:
    virtual ~IFrameSource() = default;

    // Takes the next picture; it replaces the current one. Returns its number.
    virtual uint64_t capture() = 0;
    // Number of the current picture.
    virtual uint64_t number() const = 0;

    // Draws the current picture into canvas, an ARGB image (B, G, R, A bytes) of size with stride
    // bytes per row, and appends the rectangles it changed to *damage. When previous holds the
    // number of the picture that this source last drew into this canvas, only what differs from
    // that picture need be drawn; without it the whole canvas is drawn.
    virtual void render(uint8_t* canvas, int stride, FrameSize size,
                        std::optional<uint64_t> previous, std::vector<Rect>* damage) = 0;

    // The source a camera is configured with.
    static std::unique_ptr<IFrameSource> create(const CameraConfig& camera);
    // What create gives for the camera, in a word or two ("pattern").
    static std::string describe(const CameraConfig& camera);
};

}  // namespace host
}  // namespace vemo
