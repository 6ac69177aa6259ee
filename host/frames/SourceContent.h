#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FrameSource.h"
#include "MediaPipeline.h"
#include "PictureDecoder.h"
#include "PushedPictures.h"
#include "SourceChoice.h"
#include "Y4mClip.h"

namespace vemo {
namespace host {

// A camera's frame source as chosen and loaded: the pictures decoded, the clip indexed, each
// once, when the source is chosen. It is read-only once made (but for the newest picture of a
// pushed source, which guards itself), so every instance of the camera
// shares it from any thread; each instance draws from it through a source of its own
// (makeSource), with its own picture number.
class SourceContent {
public:
    // Bounds on a folder, so that a folder of many large photographs is refused with a reason
    // instead of filling the host's memory.
    static constexpr size_t kMaxFolderPictures = 1000;
    static constexpr size_t kMaxFolderBytes = 1024u << 20;  // decoded

    // Loads what choice names; the pattern draws its square in squareColour (0xAARRGGBB).
    // Relative paths are taken from the host's working directory. Null with *error, one
    // sentence that names the file, when something can't be read.
    static std::shared_ptr<const SourceContent> load(const SourceChoice& choice,
                                                     uint32_t squareColour, std::string* error);

    const SourceChoice& choice() const { return _spec; }
    // When the source was chosen: the start of the camera's clock for pictures, folders and
    // clips.
    std::chrono::steady_clock::time_point chosenAt() const { return _chosenAt; }
    // What it shows, in a few words: "test pattern", "picture 800x800", "3 pictures at 2 fps",
    // "clip 640x480 4:2:0 at 25 fps, 50 frames", "video 1280x720 at 30 fps".
    const std::string& description() const { return _description; }

    // The camera's GStreamer pipeline, for the sources GStreamer runs; else null.
    const std::shared_ptr<MediaPipeline>& pipeline() const { return _pipeline; }
    // Why the source gives no new picture now (GStreamer's reason), or empty.
    std::string stalled() const { return _pipeline != nullptr ? _pipeline->stalled() : ""; }
    // Makes picture the newest of a pushed source; false, changing nothing, for other kinds.
    // Any thread.
    bool push(Picture picture) const;

    // A source of this content for one camera instance, starting at picture 0.
    std::unique_ptr<IFrameSource> makeSource() const;

private:
    SourceContent() = default;
    // The pictures of the folder at path, by name; false with *error.
    bool loadFolder(const std::string& path, std::string* error);
    // Starts the pipeline of a source that GStreamer runs; false with *error.
    bool startPipeline(std::string* error);

    SourceChoice _spec;
    std::chrono::steady_clock::time_point _chosenAt = std::chrono::steady_clock::now();
    std::string _description;
    uint32_t _squareColour = 0;
    std::shared_ptr<std::vector<Picture>> _pictures;
    std::shared_ptr<const Y4mClip> _clip;
    std::shared_ptr<MediaPipeline> _pipeline;
    std::shared_ptr<PushedPictures> _pushed;
};

}  // namespace host
}  // namespace vemo
