#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "FrameSource.h"
#include "PictureDecoder.h"

namespace vemo {
namespace host {

// Pictures handed to the host from outside as they come (a browser's camera sent by the web
// console): only the newest is kept, so a sender faster than the guests costs nothing but the
// decoding, and a slow one holds its last picture. Thread-safe.
class PushedPictures {
public:
    // Makes picture the newest.
    void push(Picture picture);
    // The newest picture and its number (from 1); null and 0 before the first.
    std::shared_ptr<const Picture> newest(uint64_t* number) const;

private:
    mutable std::mutex _lock;
    std::shared_ptr<const Picture> _newest;  // guarded by _lock
    uint64_t _number = 0;                    // guarded by _lock
};

// A camera instance's view of pushed pictures: each capture takes the newest, drawn letterboxed;
// black until the first arrives.
class PushedSource : public IFrameSource {
public:
    explicit PushedSource(std::shared_ptr<const PushedPictures> pictures)
        : _pictures(std::move(pictures)) {}

    uint64_t capture() override;
    uint64_t number() const override { return _number; }
    void render(uint8_t* canvas, int stride, FrameSize size, std::optional<uint64_t> previous,
                std::vector<Rect>* damage) override;

private:
    const std::shared_ptr<const PushedPictures> _pictures;
    std::shared_ptr<const Picture> _picture;
    uint64_t _pushed = 0;  // number of _picture among the pushed ones
    uint64_t _number = 0;
    uint64_t _changedAt = 0;  // the capture that took up _picture
};

}  // namespace host
}  // namespace vemo
