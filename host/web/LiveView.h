#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CameraSources.h"
#include "FrameSize.h"
#include "FrameSource.h"
#include "HostConfig.h"
#include "JpegEncoder.h"

namespace vemo {
namespace host {

// What each camera shows, as small JPEG pictures for the web console. A picture is made only
// when a viewer asks for one, from the camera's current source through a source instance of the
// console's own, so the guests' instances never wait on it; viewers that ask within the same
// interval share one picture, which caps the work at kMaxFps pictures a second per camera
// however many watch. Thread-safe; each camera has its own lock.
class LiveView {
public:
    static constexpr int kMaxFps = 15;
    static constexpr uint32_t kWidth = 640;
    static constexpr int kQuality = 75;

    // Both must outlive the object.
    LiveView(const HostConfig& config, CameraSources& sources);

    // The newest picture of camera ix (below the number of cameras) as a JPEG file; empty when
    // it could not be encoded.
    std::shared_ptr<const std::vector<uint8_t>> picture(size_t ix);

private:
    struct Camera {
        std::mutex lock;
        FrameSize size;
        std::shared_ptr<const SourceContent> content;  // what source was made from
        std::unique_ptr<IFrameSource> source;
        std::vector<uint8_t> canvas;
        JpegEncoder encoder;
        std::chrono::steady_clock::time_point made;
        std::shared_ptr<const std::vector<uint8_t>> picture;
    };

    CameraSources& _sources;
    std::vector<std::unique_ptr<Camera>> _cameras;
};

}  // namespace host
}  // namespace vemo
