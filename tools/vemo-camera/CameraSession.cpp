#include "CameraSession.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "Arguments.h"
#include "EndSignals.h"
#include "Report.h"

namespace vemo {
namespace tools {

namespace {

// Long enough for any host's frame interval and a slow start; short enough that a user who
// sees nothing happen has not given up yet.
const std::chrono::seconds kFrameSilence(5);

}  // namespace

const char kNoGuestDriver[] = "the guest driver is not available (VEMO_HGCM_SOCKET unset?)";

bool guestDriverPresent() {
    const int driver = ::open("/dev/vboxguest", O_RDWR | O_CLOEXEC);
    if (driver < 0) {
        return false;
    }
    close(driver);
    return true;
}

std::unique_ptr<CameraSession> CameraSession::open(const guest::CameraService& service,
                                                   const Options& options, int* status) {
    int index = 0;
    if (!options.camera.empty() && !parseCamera(options.camera, &index)) {
        *status = usageError("--camera needs a camera number, not '" + options.camera + "'");
        return nullptr;
    }
    if (!guestDriverPresent()) {
        *status = fail(kNoGuestDriver);
        return nullptr;
    }
    std::unique_ptr<CameraSession> session(new CameraSession(index, options.verbose));
    const int result = service.open(index, &session->_device);
    if (result != 0) {
        *status = fail(session->error("cannot open the camera (" + std::to_string(result) + ")"));
        return nullptr;
    }
    // The platform's service installs its callbacks right after the open.
    session->_callbacks.install(*session->_device);
    CameraSession* self = session.get();
    session->_callbacks.setHook([self](const guest::CameraEvent& event) { self->onEvent(event); });
    session->_device->enableMsgType(CAMERA_MSG_ERROR);
    return session;
}

CameraSession::CameraSession(int index, bool verbose) : _index(index), _log(verbose) {}

CameraSession::~CameraSession() {
    if (_device == nullptr) {
        return;
    }
    _device->disableMsgType(CAMERA_MSG_ALL_MSGS);
    _device->stopPreview();
    _device->cancelPicture();
    _device->release();
    _device->close();
}

bool CameraSession::parameters(ParameterMap* parameters) {
    std::string text;
    if (!_device->getParameters(&text)) {
        return false;
    }
    *parameters = parseParameters(text);
    return true;
}

int CameraSession::apply(const ParameterMap& changes) {
    ParameterMap current;
    if (!parameters(&current)) {
        return -ENODATA;
    }
    for (const auto& change : changes) {
        current[change.first] = change.second;
    }
    return _device->setParameters(flattenParameters(current).c_str());
}

bool CameraSession::startPreview(std::string* error) {
    const int windowResult = _device->setPreviewWindow(_window.ops());
    if (windowResult != 0) {
        *error = this->error("the device refused the preview window (" +
                             std::to_string(windowResult) + ")");
        return false;
    }
    const int result = _device->startPreview();
    if (result != 0) {
        *error = this->error("start_preview failed (" + std::to_string(result) + ")");
        return false;
    }
    // A busy host turns the start down while the operation still succeeds.
    if (_device->previewEnabled() == 0) {
        *error = this->error("the preview did not start (is the host busy?)");
        return false;
    }
    return true;
}

void CameraSession::setHook(guest::CallbackRecorder::Hook hook) {
    std::lock_guard<std::mutex> guard(_hookLock);
    _hook = std::move(hook);
}

void CameraSession::onEvent(const guest::CameraEvent& event) {
    // The first error is the one that explains; the device sends its events one at a time.
    if (event.kind == guest::CameraEvent::Kind::kNotify && event.message == CAMERA_MSG_ERROR &&
        !_cameraError) {
        _errorCode = event.ext1;
        _cameraError = true;
    }
    guest::CallbackRecorder::Hook hook;
    {
        std::lock_guard<std::mutex> guard(_hookLock);
        hook = _hook;
    }
    if (hook) {
        hook(event);
    }
}

std::string CameraSession::interruption() const {
    const int signal = endSignal();
    if (signal != 0) {
        return std::string("interrupted by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM");
    }
    if (_cameraError) {
        return "the camera reported an error (" + std::to_string(_errorCode.load()) + ")";
    }
    return "";
}

std::string CameraSession::stopReason(uint64_t frames) {
    const std::string interrupted = interruption();
    if (!interrupted.empty()) {
        return interrupted;
    }
    const auto now = std::chrono::steady_clock::now();
    if (_progress == std::chrono::steady_clock::time_point() || frames != _frames) {
        _frames = frames;
        _progress = now;
        return "";
    }
    return now - _progress >= kFrameSilence
               ? "no frame for " + std::to_string(kFrameSilence.count()) + " s"
               : "";
}

std::string CameraSession::error(const std::string& what) {
    const std::string reason = _log.take();
    return "camera " + std::to_string(_index) + ": " + what +
           (reason.empty() ? "" : " (" + reason + ")");
}

}  // namespace tools
}  // namespace vemo
