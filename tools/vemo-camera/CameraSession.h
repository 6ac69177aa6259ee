#pragma once

// One open camera of vemo-camera, held the way the platform's camera service holds one: the
// device, the callbacks installed right after the open, a preview window of the simulated
// guest's allocator, and the module's log lines that explain a failure.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "service/CallbackRecorder.h"
#include "service/CameraDevice.h"
#include "service/CameraService.h"
#include "service/PreviewWindow.h"

#include "ModuleLog.h"
#include "Options.h"
#include "ParameterText.h"

namespace vemo {
namespace tools {

// The error line when the guest driver is missing.
extern const char kNoGuestDriver[];

// Whether the guest driver can be opened, as any program on the guest can find out. Without
// it the module would find out only by logging, after waiting on the control port.
bool guestDriverPresent();

class CameraSession {
public:
    // Opens the camera that --camera names (default 0). On failure prints one error line and
    // returns null with *status set to the exit status.
    static std::unique_ptr<CameraSession> open(const guest::CameraService& service,
                                               const Options& options, int* status);
    // Ends what runs and closes the device as the platform's service does on disconnect.
    ~CameraSession();

    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    int index() const { return _index; }
    guest::CameraDevice& device() { return *_device; }
    guest::CallbackRecorder& callbacks() { return _callbacks; }
    guest::PreviewWindow& window() { return _window; }
    ModuleLog& log() { return _log; }

    // The device's current parameters; false when the module hands out none.
    bool parameters(ParameterMap* parameters);
    // set_parameters with changes on top of the current parameters. Returns its result, or
    // -ENODATA when the current parameters cannot be read.
    int apply(const ParameterMap& changes);

    // Gives the window to the device and starts the preview. Returns false and sets *error
    // to a line for fail() when either is refused.
    bool startPreview(std::string* error);

    // Hands each event of the device to hook (null: none) on the device's thread, after the
    // session has noted an error the camera reported.
    void setHook(guest::CallbackRecorder::Hook hook);

    // Why a running command must end before it has what it asked for: SIGINT or SIGTERM (see
    // catchEndSignals) or a CAMERA_MSG_ERROR. Empty while neither came.
    std::string interruption() const;
    // interruption(), or no new frame for 5 s. frames: what has arrived
    // so far, a count that grows with each frame; the 5 s run from the first call. Empty while
    // the command may go on. Call it at each of the command's bounded waits.
    std::string stopReason(uint64_t frames);

    // "camera N: what", with the module's explanation since the last look when it logged one.
    std::string error(const std::string& what);

private:
    CameraSession(int index, bool verbose);

    void onEvent(const guest::CameraEvent& event);

    const int _index;
    // Declared before the device, so it closes while the log, the callbacks, the window and
    // the hook are still there.
    ModuleLog _log;
    guest::CallbackRecorder _callbacks;
    guest::PreviewWindow _window;
    std::mutex _hookLock;
    guest::CallbackRecorder::Hook _hook;
    std::atomic<bool> _cameraError{false};
    std::atomic<int32_t> _errorCode{0};
    std::unique_ptr<guest::CameraDevice> _device;

    // The frames at the last stopReason that saw them grow, and when; the command's thread
    // only.
    uint64_t _frames = 0;
    std::chrono::steady_clock::time_point _progress;
};

}  // namespace tools
}  // namespace vemo
