#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "FrameSource.h"
#include "PictureDecoder.h"

namespace vemo {
namespace host {

// Decoded pictures as a frame source: one still picture, or a folder's pictures shown in turn,
// the next one at each capture. Each is drawn letterboxed (PictureFit). A picture is scaled
// into the canvas only when the picture on it changes, so a still picture costs nothing from
// the second frame on.
class PictureSource : public IFrameSource {
public:
    // pictures: at least one, shared with the camera's other instances. rate: a folder's, or
    // nothing for a still picture, which comes at the camera's rate.
    PictureSource(std::shared_ptr<const std::vector<Picture>> pictures,
                  std::optional<FrameRate> rate)
        : _pictures(std::move(pictures)), _rate(rate) {}

    uint64_t capture() override { return ++_number; }
    uint64_t captureTick(uint64_t tick) override { return _number = tick; }
    uint64_t number() const override { return _number; }
    void render(uint8_t* canvas, int stride, FrameSize size, std::optional<uint64_t> previous,
                std::vector<Rect>* damage) override;
    std::optional<FrameRate> ownRate() const override { return _rate; }

private:
    size_t indexOf(uint64_t number) const { return number % _pictures->size(); }

    const std::shared_ptr<const std::vector<Picture>> _pictures;
    const std::optional<FrameRate> _rate;
    uint64_t _number = 0;
};

}  // namespace host
}  // namespace vemo
