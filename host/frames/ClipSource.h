#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "FrameSource.h"
#include "Y4mClip.h"

namespace vemo {
namespace host {

// A clip as a frame source: each capture takes the clip's next frame, from the first again
// after the last, and the frames come at the clip's own rate. A frame is read from the file and
// drawn letterboxed (PictureFit) when it is first drawn into a canvas. A frame that can no
// longer be read (the file was cut short since it was opened) leaves the canvas as it was, and
// is reported in one warning per source.
class ClipSource : public IFrameSource {
public:
    // clip is shared with the camera's other instances.
    explicit ClipSource(std::shared_ptr<const Y4mClip> clip) : _clip(std::move(clip)) {}

    uint64_t capture() override { return ++_number; }
    uint64_t captureTick(uint64_t tick) override { return _number = tick; }
    uint64_t number() const override { return _number; }
    void render(uint8_t* canvas, int stride, FrameSize size, std::optional<uint64_t> previous,
                std::vector<Rect>* damage) override;
    std::optional<FrameRate> ownRate() const override { return _clip->rate(); }

private:
    size_t indexOf(uint64_t number) const { return number % _clip->frames(); }

    const std::shared_ptr<const Y4mClip> _clip;
    uint64_t _number = 0;
    std::vector<uint8_t> _frame;  // the clip frame last read
    std::vector<uint8_t> _argb;   // it in ARGB at the clip's size, when it must be scaled
    bool _warned = false;
};

}  // namespace host
}  // namespace vemo
