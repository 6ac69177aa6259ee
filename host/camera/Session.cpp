#include "Session.h"

#include "Log.h"
#include "RemoteKeys.h"

namespace vemo {
namespace host {

namespace {

uint64_t microseconds(std::chrono::steady_clock::duration duration) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(duration).count());
}

}  // namespace

Session::Session(HostState& state, std::string label) : _state(state), _label(std::move(label)) {
    _summary.label = _label;
}

SessionSummary Session::summary() const {
    std::lock_guard<std::mutex> guard(_summaryLock);
    SessionSummary summary = _summary;
    summary.calls = _calls.recent();
    return summary;
}

bool Session::handle(const uint8_t* data, size_t size, PacketBuffer* reply, std::string* fault) {
    const DecodeResult decoded = _request.decode(data, size);
    if (!decoded.ok()) {
        *fault = decoded.describe();
        return false;
    }
    _reply.clear();
    const IClock::TimePoint start = _state.clock.now();
    const std::string* function = _request.text(keys::kFunction);
    const CallStatus status =
        function != nullptr ? run(*function) : CallStatus::error("request without __function");
    if (!status.isOk()) {
        const std::string name = function != nullptr ? *function : "?";
        logLine(status.repeated() ? LogLevel::kDebug : LogLevel::kWarning, "%s: %s: %s",
                _label.c_str(), logSafe(name).c_str(), status.text().c_str());
        _reply.clear();
        _reply.set(keys::kError, Value::string(name + ": " + status.text()));
    }
    _reply.encode(reply->preparePayload(_reply.encodedSize()));

    std::lock_guard<std::mutex> guard(_summaryLock);
    _summary.instance = _device != nullptr;
    _summary.camera = _device != nullptr ? _device->cameraIx() : std::nullopt;
    _summary.sampleStore = _device != nullptr ? _device->sampleStore() : 0;
    ++_summary.requests;
    const CameraState* camera = _device != nullptr ? _device->camera() : nullptr;
    if (camera != nullptr) {
        _summary.previewSize = camera->previewSize().text();
        _summary.previewFormat = std::string(formatName(camera->previewFormat()));
        _summary.pictures = camera->pictureNumber();
    }
    const IClock::TimePoint end = _state.clock.now();
    _calls.note(_request, _reply, microseconds(end - start), microseconds(end.time_since_epoch()));
    return true;
}

CallStatus Session::run(const std::string& function) {
    logLine(LogLevel::kDebug, "%s: call %s", _label.c_str(), logSafe(function).c_str());
    if (function == kInitThis) {
        return initThis();
    }
    if (function == kDeleteThis) {
        // A client may delete twice (an explicit delete, then its destructor's); the second
        // finds nothing to delete and is no error.
        _device.reset();
        _reply.set(keys::kReturn, Value::u32(0));
        return CallStatus::ok();
    }
    if (_device == nullptr) {
        return CallStatus::error("no instance; __initThis must come first");
    }
    return _device->call(function, _request, &_reply);
}

CallStatus Session::initThis() {
    const std::string* remoteClass = _request.text(keys::kRemoteClass);
    if (remoteClass == nullptr) {
        return CallStatus::error("no __remote_class");
    }
    if (*remoteClass != CameraDevice::kClassName) {
        return CallStatus::error("unknown remote class " + logSafe(*remoteClass));
    }
    if (_device != nullptr) {
        return CallStatus::error("instance already created");
    }
    _device = std::make_unique<CameraDevice>(_state);
    _reply.set(keys::kReturn, Value::u32(0));
    return CallStatus::ok();
}

}  // namespace host
}  // namespace vemo
