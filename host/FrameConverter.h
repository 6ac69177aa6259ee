#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ColorAdjustment.h"
#include "FrameSource.h"
#include "PixelFormat.h"

namespace vemo {
namespace host {

// One stream of frames in one format and size, made from a frame source. It keeps the source's
// last drawing (the canvas) and the converted frame, and when the source moves on it redraws and
// converts only the rectangles the source reports as changed; a change of format, size or colour
// adjustment converts the whole frame once. Conversions are libyuv's. Serves one source; used by
// one thread at a time.
class FrameConverter {
public:
    // Sets what the frames look like; a change drops what is cached.
    void configure(PixelFormat format, FrameSize size);
    const FrameLayout& layout() const { return _layout; }
    // Makes the next update draw and convert the whole frame: the source has been replaced, and
    // its picture numbers say nothing of what the canvas holds.
    void redraw() { _drawn.reset(); }

    // Brings the frame up to the source's current picture under adjustment and returns its
    // layout().bytes bytes, which stay valid and unchanged until the next call of update or
    // configure. configure must have been called.
    const std::vector<uint8_t>& update(IFrameSource& source, const ColorAdjustment& adjustment);

private:
    // Converts the rectangle, widened to even coordinates, from the canvas into the frame.
    void convert(const Rect& rect);

    FrameLayout _layout;
    std::vector<uint8_t> _canvas;  // ARGB as the source drew it
    std::vector<uint8_t> _output;
    std::vector<uint8_t> _scratch;            // a canvas rectangle with the adjustment applied
    std::optional<uint64_t> _drawn;           // number of the picture on the canvas
    std::optional<ColorAdjustment> _applied;  // adjustment the frame was converted with
    std::vector<Rect> _damage;
};

}  // namespace host
}  // namespace vemo
