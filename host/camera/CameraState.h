#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "CallStatus.h"
#include "ColorAdjustment.h"
#include "FrameConverter.h"
#include "FramePacer.h"
#include "FrameSource.h"
#include "HostConfig.h"
#include "HostState.h"
#include "JpegEncoder.h"
#include "PixelFormat.h"
#include "SampleStore.h"
#include "SourceContent.h"

namespace vemo {
namespace host {

// One camera as one instance sees it: the configuration of the selected camera, the sizes and
// formats the guest chose, exposure and white balance, the frame source with its captured
// picture, and the frames made from that picture. Every frame fetched between two captures
// shows the same picture, whatever its stream, except that the video stream never hands out
// one picture twice: a recording without preview has nobody asking for captures, so a video
// frame (or sample) asked for again takes the next picture first. Used by one thread at a
// time.
//
// The source is the camera's current one (CameraSources): a capture first takes up a source
// chosen since the last, which then draws every stream afresh. When the host paces, a capture
// waits until the next picture is due (FramePacer): at the source's own rate for a clip, a
// folder or a pipeline, else at the camera's rate or the guest's preview rate, whichever is
// lower; and a source with a rate of its own shows the picture of the camera's clock, so that
// opening the camera does not restart a clip or a slideshow.
//
// Streams are made when first fetched and kept up to date from then on by FrameConverter, which
// converts only what changed from one picture to the next.
class CameraState {
public:
    enum class Stream { kVideo = 0, kPreview = 1 };
    static constexpr int kJpegQuality = 90;

    // Camera ix of the host. Preview in NV21 and pictures at the preferred preview size (or the
    // first picture size when that is not one), video in YV12 at the first video size. state
    // must outlive the object.
    CameraState(HostState& state, size_t ix);
    // Closes the instance's sample store, dropping its outstanding samples, and lets go of the
    // camera's source.
    ~CameraState();
    CameraState(const CameraState&) = delete;
    CameraState& operator=(const CameraState&) = delete;

    const CameraConfig& camera() const { return _camera; }

    // Setters of the guest's choices. A text that is not a size or format this camera offers is
    // an error and keeps the previous value.
    CallStatus setPreviewSize(std::string_view text);
    CallStatus setPictureSize(std::string_view text);
    CallStatus setVideoSize(std::string_view text);
    CallStatus setPreviewFormat(std::string_view name);
    CallStatus setPictureFormat(std::string_view name);  // "jpeg" only
    CallStatus setVideoFormat(std::string_view name);
    // The guest's preview rate; it paces captures when lower than the camera's rate.
    CallStatus setPreviewFps(uint32_t fps);
    uint32_t previewFps() const { return _previewFps; }
    // The rate captures are paced at (when the host paces).
    FrameRate frameRate() const;
    // Index in half EV steps (ColorAdjustment); an error when the camera has no exposure control.
    CallStatus setExposure(int32_t index);
    // Colour temperature or 0 for auto; an error when the camera has no white balance control.
    CallStatus setWhiteBalance(uint32_t mode);
    uint32_t whiteBalance() const { return _adjustment.whiteBalance(); }

    // Takes the next picture from the camera's current source, once it is due.
    void capture();
    // When the current picture was taken: microseconds on the monotonic clock.
    uint64_t timestamp() const { return _timestamp; }

    // The current picture in the stream's format and size; valid until the next call for the
    // same stream.
    const std::vector<uint8_t>& frame(Stream stream);
    // The current picture as a JPEG file at the picture size, and as one at the camera's
    // thumbnail size (the middle of the picture, cropped to the thumbnail's shape). *file and
    // *size stay valid until the next call of the same function.
    CallStatus photo(const uint8_t** file, size_t* size);
    CallStatus thumbnail(const uint8_t** file, size_t* size);

    struct SavedSample {
        uint32_t store = 0;
        uint64_t number = 0;
        uint64_t timestamp = 0;
    };
    // Keeps the current video frame in the instance's sample store. The frame's storage goes
    // into the sample, and the video stream takes spare storage of the store in its place,
    // brought up to date by copying only the tiles changed since that storage was saved when it
    // was this instance's; else the whole frame is copied into it.
    SavedSample saveVideoFrame();

    // The current picture as window buffers hold it: RGB888 at the preview size. Valid until
    // the next call or a change of the preview size.
    const std::vector<uint8_t>& windowFrame();
    FrameSize previewSize() const { return _preview.size; }
    PixelFormat previewFormat() const { return _preview.format; }
    // Number of the current picture: pictures taken so far, whatever their source.
    uint64_t pictureNumber() const { return _captures; }
    // The instance's sample store; 0 until the first sample is saved.
    uint32_t sampleStore() const { return _sampleStore; }

private:
    struct StreamState {
        PixelFormat format;
        FrameSize size;
        FrameConverter converter;
        uint64_t delivered = 0;  // the capture this stream last handed out
    };

    // The video frame in tiles of kTileSide pixels square, each with the version of the frame
    // that last changed it; sample storage notes the version it held (owner _owner).
    static constexpr uint32_t kTileSide = 32;

    StreamState& stream(Stream which) { return which == Stream::kVideo ? _video : _preview; }
    // Raises the video frame's version when its last update changed it, and notes where.
    void noteVideoChanges();
    // The video stream takes *spare as its frame, brought up to date; *spare gets the frame,
    // which is the stream's current one.
    void exchangeVideoFrame(const std::vector<uint8_t>& frame, SampleStore::Storage* spare);
    // Makes a source chosen since the last capture this instance's.
    void takeCurrentSource();
    // The picture stream brought up to the current picture: ARGB at the picture size.
    const std::vector<uint8_t>& pictureFrame();

    const CameraConfig& _camera;
    const size_t _ix;
    SampleStore& _samples;
    CameraSources& _sources;
    std::shared_ptr<const SourceContent> _content;  // what _source was made from
    std::unique_ptr<IFrameSource> _source;
    const bool _paced;
    IClock& _clock;
    FramePacer _pacer;
    const uint64_t _timestampOffset;  // microseconds added to the clock's
    uint64_t _timestamp = 0;
    uint64_t _captures = 0;  // pictures taken so far
    ColorAdjustment _adjustment;
    uint32_t _previewFps;

    StreamState _preview;
    StreamState _video;
    FrameConverter _window;
    FrameSize _pictureSize;
    FrameConverter _picture;
    std::vector<uint8_t> _thumbnailCanvas;
    JpegEncoder _photoEncoder;
    JpegEncoder _thumbnailEncoder;

    uint32_t _sampleStore = 0;
    const uint64_t _owner;  // unique in the process
    uint64_t _videoVersion = 0;
    uint32_t _tileColumns = 0;
    std::vector<uint64_t> _tileVersions;  // row by row
};

}  // namespace host
}  // namespace vemo
