#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "CallStatus.h"
#include "CameraState.h"
#include "HostState.h"
#include "Message.h"
#include "WindowBuffers.h"

namespace vemo {
namespace host {

// One instance of the remote class "CameraDevice", created by a client's "__initThis" and bound
// to that client's connection. Its functions are found by name in one table (CameraDevice.cpp):
// each reads its arguments from the request and writes its results into the reply, and a new
// function is one member and one table row. Used by one session on one thread at a time.
//
// Module-level queries (getNumCameras, ...) need nothing else. The camera functions need a
// camera selected with setCameraIx first; their behaviour is CameraState's. Functions that
// return nothing reply "__return" 0. Frames go into the reply as borrowed buffers: they stay
// valid until the next call on this instance, after the reply has been encoded.
class CameraDevice {
public:
    static constexpr std::string_view kClassName = "CameraDevice";
    // captureFrame's answer when the camera can't deliver (the fault switch "busy").
    static constexpr uint32_t kHostBusy = 0xC00D3704;
    // releaseOneFrame's answer for a sample the store doesn't hold: -1 as a 32-bit value.
    static constexpr uint32_t kUnknownSample = 0xFFFFFFFF;

    // state must outlive the instance.
    explicit CameraDevice(HostState& state) : _state(state), _config(state.config) {}

    // Runs the named function. An error status (no such function, a missing or bad argument)
    // leaves the reply to the caller, who reports the error.
    CallStatus call(std::string_view function, const Message& request, Message* reply);

    // The camera chosen with setCameraIx; nothing before.
    std::optional<uint32_t> cameraIx() const;
    // The store of the samples saved by this instance; 0 when none.
    uint32_t sampleStore() const { return _camera != nullptr ? _camera->sampleStore() : 0; }
    // The selected camera; null before setCameraIx.
    const CameraState* camera() const { return _camera.get(); }

private:
    using Handler = CallStatus (CameraDevice::*)(const Message& request, Message* reply);
    using TextSetter = CallStatus (CameraState::*)(std::string_view text);

    // Null when the class has no such function.
    static Handler findHandler(std::string_view function);

    // The configured camera named by the request's "ix" entry.
    CallStatus cameraArgument(const Message& request, const CameraConfig** camera) const;
    // The camera chosen with setCameraIx.
    CallStatus selectedCamera(CameraState** camera) const;
    // The selected camera, which the request's "id" entry must name.
    CallStatus identifiedCamera(const Message& request, CameraState** camera) const;
    // Runs setter on the selected camera with the request's text entry key.
    CallStatus setText(const Message& request, std::string_view key, TextSetter setter,
                       Message* reply);
    // Entry "ix" of sizes as the reply's "__return".
    CallStatus sizeAt(const Message& request, const std::vector<FrameSize>& sizes,
                      Message* reply) const;
    // A feature switch of the camera named by "id" as the reply's "__return", 1 or 0.
    CallStatus feature(const Message& request, bool CameraConfig::*flag, Message* reply) const;
    // The current picture of a stream of the selected camera, with its timestamp.
    CallStatus streamFrame(CameraState::Stream stream, Message* reply);
    // A file made from the current picture, with its timestamp.
    CallStatus jpegFile(const Message& request,
                        CallStatus (CameraState::*make)(const uint8_t** data, size_t* size),
                        Message* reply);

    CallStatus getNumCameras(const Message& request, Message* reply);
    CallStatus getCurrentOrientation(const Message& request, Message* reply);
    CallStatus getCameraName(const Message& request, Message* reply);
    CallStatus getCameraOrientation(const Message& request, Message* reply);
    CallStatus getCameraFacing(const Message& request, Message* reply);

    CallStatus setCameraIx(const Message& request, Message* reply);
    CallStatus getNumPreviewSize(const Message& request, Message* reply);
    CallStatus getPreviewSize(const Message& request, Message* reply);
    CallStatus getPreferredPreviewSize(const Message& request, Message* reply);
    CallStatus getPictureSize(const Message& request, Message* reply);
    CallStatus getNumVideoSize(const Message& request, Message* reply);
    CallStatus getVideoSize(const Message& request, Message* reply);
    CallStatus setPreviewSize(const Message& request, Message* reply);
    CallStatus setPictureSize(const Message& request, Message* reply);
    CallStatus setVideoSize(const Message& request, Message* reply);
    CallStatus setPreviewFormat(const Message& request, Message* reply);
    CallStatus setPictureFormat(const Message& request, Message* reply);
    CallStatus setVideoFormat(const Message& request, Message* reply);
    CallStatus setPreviewFPS(const Message& request, Message* reply);
    // "id" is not looked at: every stream shares one capture. When the host paces, the reply
    // waits until the picture is due (CameraState).
    CallStatus captureFrame(const Message& request, Message* reply);
    // Draws the current picture into the window buffer "cb" (WindowBuffers); "frame_id" is not
    // looked at.
    CallStatus updateFrameToCB(const Message& request, Message* reply);
    // "id" 0 is the video stream, 1 the preview stream.
    CallStatus getFrameContents(const Message& request, Message* reply);
    // The preview stream, whatever "id" says; likewise "id" of the two files below.
    CallStatus getPreviewContents(const Message& request, Message* reply);
    CallStatus getPhotoFrameContents(const Message& request, Message* reply);
    CallStatus getThumbnailContents(const Message& request, Message* reply);
    // "exposurevalue" is a signed index in two's complement.
    CallStatus setExposureCompensation(const Message& request, Message* reply);
    CallStatus setWhiteBalanceMode(const Message& request, Message* reply);
    CallStatus getWhiteBalanceMode(const Message& request, Message* reply);
    CallStatus isWhiteBalanceSupported(const Message& request, Message* reply);
    CallStatus isAutoFocusSupported(const Message& request, Message* reply);
    CallStatus isExposureSupported(const Message& request, Message* reply);
    CallStatus saveFrameToSampleStore(const Message& request, Message* reply);
    // Any store's sample may be released, not only this instance's.
    CallStatus releaseOneFrame(const Message& request, Message* reply);

    HostState& _state;
    const HostConfig& _config;
    uint32_t _cameraIx = 0;
    std::unique_ptr<CameraState> _camera;  // null until setCameraIx
    WindowBuffers _windows;
};

}  // namespace host
}  // namespace vemo
