#pragma once

#include <cstddef>
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
// adjustment converts the whole frame once. A source that holds its picture in I420 planes (a
// decoded video) goes past the canvas into the YUV formats: its picture is scaled and letterboxed
// plane by plane, one conversion where the canvas would take two. Conversions are libyuv's.
// Serves one source; used by one thread at a time.
class FrameConverter {
public:
    // Sets what the frames look like; a change drops what is cached.
    void configure(PixelFormat format, FrameSize size);
    const FrameLayout& layout() const { return _layout; }
    // Makes the next update draw and convert the whole frame: the source has been replaced, and
    // its picture numbers say nothing of what the canvas holds.
    void redraw() {
        _drawn.reset();
        _fitted.reset();
    }

    // Brings the frame up to the source's current picture under adjustment and returns its
    // layout().bytes bytes, which stay valid and unchanged until the next call of update,
    // configure or swapFrame. configure must have been called.
    const std::vector<uint8_t>& update(IFrameSource& source, const ColorAdjustment& adjustment);
    // The rectangles of the frame that the last update converted; where it converted none, the
    // frame is as it was before.
    const std::vector<Rect>& changed() const { return _damage; }

    // Gives the frame's storage away for *storage, made layout().bytes long. The frame then
    // holds what the storage held until the caller brings it up to date: by copying the frame
    // into the storage before, or the rectangles that differ with copyRect afterwards.
    void swapFrame(std::vector<uint8_t>* storage) {
        storage->resize(_output.size());
        _output.swap(*storage);
    }
    // Copies the rectangle, widened to even coordinates, from another frame of this layout.
    void copyRect(const Rect& rect, const uint8_t* from);

private:
    // How a plane holds pixels: bytes per pixel, and 2 where it has one for each 2x2 block
    // (the chroma planes of the 4:2:0 formats).
    struct PlaneGeometry {
        int bytesPerPixel;
        int subsampling;
    };
    PlaneGeometry geometry(int plane) const;
    // Where pixel (x, y), even coordinates, lies in a plane of the frame.
    size_t offsetOf(int plane, int x, int y) const;
    // The rectangle clipped to the frame and widened to even coordinates; false when empty.
    bool evenRect(const Rect& rect, Rect* even) const;
    // Converts the rectangle, widened to even coordinates, from the canvas into the frame.
    void convert(const Rect& rect);
    // Whether the frame's format is made straight from I420 planes.
    bool takesPlanes() const;
    // Letterboxes the picture straight into the frame: the bars in black, the picture scaled
    // into its rectangle.
    void fitPlanes(const PlanarPicture& picture);

    FrameLayout _layout;
    std::vector<uint8_t> _canvas;  // ARGB as the source drew it; empty until first drawn into
    std::vector<uint8_t> _output;
    std::vector<uint8_t> _scratch;            // a canvas rectangle with the adjustment applied
    std::optional<uint64_t> _drawn;           // number of the picture on the canvas
    std::optional<uint64_t> _fitted;          // number of the planar picture in the frame
    std::vector<uint8_t> _scaled;             // the planar picture at its size in the frame
    std::optional<ColorAdjustment> _applied;  // adjustment the frame was converted with
    std::vector<Rect> _damage;
};

}  // namespace host
}  // namespace vemo
