#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "FrameRate.h"
#include "FrameSource.h"

namespace vemo {
namespace host {

// One decoded picture of a pipeline, in I420 (the planes most decoders give, so that GStreamer
// converts nothing), kept in GStreamer's own buffer (no copy) for as long as anyone holds it. Its
// number counts the pictures the pipeline decoded, this one included.
struct MediaPicture : PlanarPicture {
    uint64_t decodedAtNs = 0;    // steady clock, when the sink received it
    std::shared_ptr<void> keep;  // the mapped GStreamer video frame
};

// A GStreamer pipeline that ends in raw video, run for one camera: the host appends its own
// conversion to I420 (none when the decoder gives it) and a sink that keeps only the newest picture
// (older ones are dropped, so a slow camera never makes the pipeline queue up and memory stays
// flat). The sink plays on the pipeline's clock, so a clip comes at its own rate and a live source
// at the device's.
//
// The pipeline runs on a thread of its own while it is wanted: from start() on, while anyone
// holds it (hold/release), and for kLinger after the last release, so that a device is freed a
// few seconds after the last guest stops filming. A failure after the first picture keeps the
// last picture and shows as stalled() with GStreamer's reason; a retrying pipeline (a webcam, a
// stream) is built again after a pause that grows up to kMaxPause, a looping one (a clip)
// starts again at its end.
// Thread-safe.
class MediaPipeline {
public:
    enum class Ending { kLoop, kRetry, kStall };
    static constexpr std::chrono::milliseconds kLinger{3000};
    static constexpr std::chrono::milliseconds kFirstPause{250};
    static constexpr std::chrono::milliseconds kMaxPause{4000};
    static constexpr std::chrono::seconds kStartTimeout{10};
    // A retrying pipeline that gives no picture for this long counts as failed: a network
    // stream cut without a word, a device that hangs.
    static constexpr std::chrono::seconds kSilence{3};

    // name: what log lines call it. description: a pipeline in gst-launch syntax whose last element
    // gives raw video. device, when given, is a capture device (a GstDevice*, whose reference
    // passes to the pipeline) whose element is put in front of description each time the pipeline
    // is built.
    MediaPipeline(std::string name, std::string description, Ending ending, void* device = nullptr);
    ~MediaPipeline();
    MediaPipeline(const MediaPipeline&) = delete;
    MediaPipeline& operator=(const MediaPipeline&) = delete;

    // Starts the pipeline and waits until its first picture. False with *error, GStreamer's own
    // reason, when it fails first or gives no picture within kStartTimeout.
    bool start(std::string* error);

    // A camera instance uses the pipeline; it runs again when it was stopped.
    void hold();
    // One less instance uses it; the last lets it stop kLinger later.
    void release();

    // The newest picture; null before the first.
    std::shared_ptr<const MediaPicture> newest() const;
    // Waits, up to limit, until a picture numbered above number has come.
    void awaitAfter(uint64_t number, std::chrono::nanoseconds limit) const;
    // The rate the pipeline's video announces, when it does and it is in range.
    std::optional<FrameRate> rate() const;
    // Why no picture comes now, or empty while the pipeline runs or rests.
    std::string stalled() const;
    // Whether the pipeline is built and playing (for tests: a device is busy while it is).
    bool running() const;

    // text as a quoted value, as pipeline descriptions (and device lines) write one.
    static std::string quoted(const std::string& text);

    // Turns GStreamer on once per process; false with *error when it can't be.
    static bool initialise(std::string* error);

private:
    enum class Outcome { kUnwanted, kFailed };

    void run();
    // Builds and plays the pipeline until it fails (*reason) or is no longer wanted.
    Outcome playOnce(std::string* reason);
    bool wanted() const;  // _lock held
    void received(std::shared_ptr<MediaPicture> picture, std::optional<FrameRate> rate);
    friend struct PipelineCallbacks;

    const std::string _name;
    const std::string _description;
    const Ending _ending;
    void* _device;  // GstDevice*, owned

    mutable std::mutex _lock;
    std::condition_variable _changed;
    mutable std::condition_variable _arrived;  // a picture came
    bool _closing = false;
    int _users = 0;
    std::chrono::steady_clock::time_point _lingerUntil;
    bool _started = false;  // a first picture came
    std::string _startError;
    std::string _stalled;
    bool _running = false;
    uint64_t _pictures = 0;
    std::chrono::steady_clock::time_point _lastPictureAt;
    std::shared_ptr<const MediaPicture> _newest;
    std::optional<FrameRate> _rate;
    std::thread _thread;
};

}  // namespace host
}  // namespace vemo
