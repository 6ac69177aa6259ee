#include "RemoteCamera.h"

#include <log/log.h>

#include "RemoteObject.h"
#include "RemoteParameters.h"
#include "RemoteSocketConnection.h"

namespace android {

namespace {
const int kCameraServicePort = 10072;
const char* const kRemoteClass = "CameraDevice";
}  // namespace

CRemoteCamera::CRemoteCamera()
    : _hgcm_connection(new CRemoteHGCMConnection()),
      _remote_object(new CRemoteObject()),
      _connected(false),
      _broken(false),
      _bound(false) {
    pthread_mutex_init(&_call_lock, nullptr);
}

CRemoteCamera::~CRemoteCamera() {
    disconnect();
    pthread_mutex_destroy(&_call_lock);
}

void CRemoteCamera::disconnect() {
    CallLock lock(&_call_lock);
    _connected = false;
    _remote_object.reset();
    _hgcm_connection.reset();
}

CRemoteCamera::QueryOutcome CRemoteCamera::staticQuery(CRemoteParameters* request, bool log,
                                                       ReplyReader read, void* result) {
    CRemoteSocketConnection connection;
    if (connection.open(kCameraServicePort) != 0) {
        if (log) {
            ALOGE("Remote Camera connect failed");
        }
        return QUERY_NO_CONNECTION;
    }
    CRemoteObject object;
    if (object.init(&connection, kRemoteClass) != 0) {
        if (log) {
            ALOGE("Remote Camera object init failed");
        }
        connection.close();
        return QUERY_NO_INSTANCE;
    }
    CRemoteParameters reply;
    if (object.executeMethod(request, &reply) != 0) {
        return QUERY_CALL_FAILED;
    }
    read(&reply, result);
    // The object's destructor deletes the instance and closes the connection.
    return QUERY_OK;
}

int CRemoteCamera::staticU32Query(const char* function, const int* ix, bool log) {
    CRemoteParameters request;
    request.addParam("__function", function);
    if (ix != nullptr) {
        request.addParam("ix", static_cast<unsigned long>(*ix));
    }
    int result = 0;
    staticQuery(
        &request, log,
        [](CRemoteParameters* reply, void* out) {
            *static_cast<int*>(out) = static_cast<int>(reply->getU32Param("__return"));
        },
        &result);
    return result;
}

int CRemoteCamera::getNumCamera() {
    ALOGE("getNumCamera");
    return staticU32Query("getNumCameras", nullptr, true);
}

int CRemoteCamera::getCurrentOrientation() {
    return staticU32Query("getCurrentOrientation", nullptr, false);
}

int CRemoteCamera::getCameraOrientation(int ix) {
    return staticU32Query("getCameraOrientation", &ix, false);
}

int CRemoteCamera::getCameraFacing(int ix) {
    return staticU32Query("getCameraFacing", &ix, false);
}

AString CRemoteCamera::getCameraName(int ix) {
    CRemoteParameters request;
    request.addParam("__function", "getCameraName");
    request.addParam("ix", static_cast<unsigned long>(ix));
    AString name;
    const QueryOutcome outcome = staticQuery(
        &request, false,
        [](CRemoteParameters* reply, void* out) {
            *static_cast<AString*>(out) = reply->getStrParam("__return");
        },
        &name);
    return outcome == QUERY_CALL_FAILED ? AString("N/A") : name;
}

int CRemoteCamera::setCameraIx(int ix) {
    CallLock lock(&_call_lock);
    if (_connected) {
        ALOGE("Camera %d already connected", ix);
        return 0;
    }
    if (_bound || _remote_object == nullptr) {
        ALOGE("Failed to set Camera Ix - %d", ix);
        return -1;
    }
    if (_hgcm_connection->open(kCameraServicePort) != 0) {
        return -1;
    }
    _bound = true;
    if (_remote_object->init(_hgcm_connection.get(), kRemoteClass) != 0) {
        _hgcm_connection->close();
        return -1;
    }
    CRemoteParameters request;
    CRemoteParameters reply;
    request.addParam("__function", "setCameraIx");
    request.addParam("ix", static_cast<unsigned long>(ix));
    if (_remote_object->executeMethod(&request, &reply) != 0) {
        _hgcm_connection->close();
        ALOGE("Failed to set Camera Ix - %d", ix);
        return -1;
    }
    _connected = true;
    return 0;
}

bool CRemoteCamera::invoke(const char* function, std::initializer_list<U32Arg> args,
                           CRemoteParameters* reply, const char* textKey, const char* text) {
    if (!_connected || _remote_object == nullptr) {
        return false;
    }
    CRemoteParameters request;
    request.addParam("__function", function);
    for (const U32Arg& arg : args) {
        request.addParam(arg.key, arg.value);
    }
    if (textKey != nullptr) {
        request.addParam(textKey, text);
    }
    if (_remote_object->executeMethod(&request, reply) != 0) {
        _hgcm_connection->close();
        _broken = true;
        return false;
    }
    return true;
}

int CRemoteCamera::callU32(const char* function, std::initializer_list<U32Arg> args, int failure) {
    CallLock lock(&_call_lock);
    CRemoteParameters reply;
    if (!invoke(function, args, &reply)) {
        ALOGE("Failed on %s", function);
        return failure;
    }
    return static_cast<int>(reply.getU32Param("__return"));
}

AString CRemoteCamera::callText(const char* function, std::initializer_list<U32Arg> args) {
    CallLock lock(&_call_lock);
    CRemoteParameters reply;
    if (!invoke(function, args, &reply)) {
        ALOGE("Failed on %s", function);
        return AString();
    }
    return reply.getStrParam("__return");
}

void CRemoteCamera::callVoid(const char* function, std::initializer_list<U32Arg> args,
                             const char* textKey, const char* text) {
    CallLock lock(&_call_lock);
    CRemoteParameters reply;
    if (!invoke(function, args, &reply, textKey, text)) {
        ALOGE("Failed on %s", function);
    }
}

unsigned char* CRemoteCamera::fetchFrame(const char* function, unsigned long id,
                                         unsigned long* size, unsigned long* tsLow,
                                         unsigned long* tsHigh) {
    CallLock lock(&_call_lock);
    CRemoteParameters reply;
    if (!invoke(function, {{"id", id}}, &reply)) {
        ALOGE("Failed on %s", function);
        return nullptr;
    }
    const unsigned long low = reply.getU32Param("ts_low");
    const unsigned long high = reply.getU32Param("ts_high");
    unsigned char* frame = nullptr;
    const unsigned long length = reply.getBufParam("frame", &frame);
    if (tsLow != nullptr) {
        *tsLow = low;
    }
    if (tsHigh != nullptr) {
        *tsHigh = high;
    }
    if (size != nullptr) {
        *size = length;
    }
    return frame;
}

int CRemoteCamera::saveFrameToSampleStore(unsigned long* store, unsigned long long* sample,
                                          unsigned long long* timestamp) {
    CallLock lock(&_call_lock);
    CRemoteParameters reply;
    // Without its store and sample numbers the reply names no sample: a record made from it
    // would name one the host never handed out.
    if (!invoke("saveFrameToSampleStore", {}, &reply) ||
        !reply.hasParam("sample_store", PARAM_TYPE_U32) ||
        !reply.hasParam("sample_num_high", PARAM_TYPE_U32) ||
        !reply.hasParam("sample_num_low", PARAM_TYPE_U32)) {
        ALOGE("Failed to Save Frame to sample store");
        return -1;
    }
    const unsigned long storeNumber = reply.getU32Param("sample_store");
    const unsigned long long number =
        (static_cast<unsigned long long>(reply.getU32Param("sample_num_high")) << 32) |
        reply.getU32Param("sample_num_low");
    const unsigned long long time =
        (static_cast<unsigned long long>(reply.getU32Param("timestamp_high")) << 32) |
        reply.getU32Param("timestamp_low");
    if (store != nullptr) {
        *store = storeNumber;
    }
    if (sample != nullptr) {
        *sample = number;
    }
    if (timestamp != nullptr) {
        *timestamp = time;
    }
    return 0;
}

int CRemoteCamera::releaseOneFrame(unsigned long store, unsigned long long sample) {
    CallLock lock(&_call_lock);
    CRemoteParameters reply;
    if (!invoke("releaseOneFrame",
                {{"sample_store", store},
                 {"sample_num_high", static_cast<unsigned long>(sample >> 32)},
                 {"sample_num_low", static_cast<unsigned long>(sample & 0xFFFFFFFFu)}},
                &reply)) {
        ALOGE("failed to release Recorded frame");
        return 0;
    }
    return static_cast<int>(reply.getU32Param("__return"));
}

int CRemoteCamera::getNumPreviewSize() {
    return callU32("getNumPreviewSize", {}, -1);
}

AString CRemoteCamera::getPreviewSize(int ix) {
    return callText("getPreviewSize", {{"ix", static_cast<unsigned long>(ix)}});
}

AString CRemoteCamera::getPreferredPreviewSize() {
    return callText("getPreferredPreviewSize", {});
}

AString CRemoteCamera::getPictureSize(int ix) {
    return callText("getPictureSize", {{"ix", static_cast<unsigned long>(ix)}});
}

int CRemoteCamera::getNumVideoSize() {
    return callU32("getNumVideoSize", {}, -1);
}

AString CRemoteCamera::getVideoSize(unsigned long ix) {
    return callText("getVideoSize", {{"ix", ix}});
}

void CRemoteCamera::setPreviewSize(AString size) {
    ALOGE("Preview Size ----------------------- %s", size.c_str());
    callVoid("setPreviewSize", {}, "size", size.c_str());
}

void CRemoteCamera::setPictureSize(AString size) {
    ALOGE("Picture Size ----------------------- %s", size.c_str());
    callVoid("setPictureSize", {}, "size", size.c_str());
}

void CRemoteCamera::setVideoSize(AString size) {
    callVoid("setVideoSize", {}, "size", size.c_str());
}

void CRemoteCamera::setPreviewFormat(AString format) {
    ALOGE("Preview Format ----------------------- %s", format.c_str());
    callVoid("setPreviewFormat", {}, "format", format.c_str());
}

void CRemoteCamera::setPictureFormat(AString format) {
    ALOGE("Picture Format ----------------------- %s", format.c_str());
    callVoid("setPictureFormat", {}, "format", format.c_str());
}

void CRemoteCamera::setVideoFormat(AString format) {
    ALOGE("Video Format ----------------------- %s", format.c_str());
    callVoid("setVideoFormat", {}, "format", format.c_str());
}

void CRemoteCamera::setPreviewFPS(unsigned long fps) {
    callVoid("setPreviewFPS", {{"fps", fps}});
}

int CRemoteCamera::captureFrame(unsigned long id) {
    return callU32("captureFrame", {{"id", id}}, -1);
}

void CRemoteCamera::updateFrameToCB(unsigned long frameId, unsigned long cb) {
    callVoid("updateFrameToCB", {{"frame_id", frameId}, {"cb", cb}});
}

unsigned char* CRemoteCamera::getFrameContents(unsigned long id, unsigned long* size,
                                               unsigned long* tsLow, unsigned long* tsHigh) {
    return fetchFrame("getFrameContents", id, size, tsLow, tsHigh);
}

unsigned char* CRemoteCamera::getPreviewContents(unsigned long id, unsigned long* size,
                                                 unsigned long* tsLow, unsigned long* tsHigh) {
    return fetchFrame("getPreviewContents", id, size, tsLow, tsHigh);
}

unsigned char* CRemoteCamera::getPhotoFrameContents(unsigned long id, unsigned long* size,
                                                    unsigned long* tsLow, unsigned long* tsHigh) {
    return fetchFrame("getPhotoFrameContents", id, size, tsLow, tsHigh);
}

unsigned char* CRemoteCamera::getThumbnailContents(unsigned long id, unsigned long* size,
                                                   unsigned long* tsLow, unsigned long* tsHigh) {
    return fetchFrame("getThumbnailContents", id, size, tsLow, tsHigh);
}

void CRemoteCamera::setExposureCompensation(unsigned long id, unsigned long value) {
    callVoid("setExposureCompensation", {{"id", id}, {"exposurevalue", value}});
}

void CRemoteCamera::setWhiteBalanceMode(unsigned long id, unsigned long mode) {
    callVoid("setWhiteBalanceMode", {{"id", id}, {"mode", mode}});
}

int CRemoteCamera::isWhiteBalanceSupported(unsigned long id) {
    return callU32("isWhiteBalanceSupported", {{"id", id}}, -1);
}

int CRemoteCamera::isAutoFocusSupported(unsigned long id) {
    return callU32("isAutoFocusSupported", {{"id", id}}, -1);
}

int CRemoteCamera::isExposureSupported(unsigned long id) {
    return callU32("isExposureSupported", {{"id", id}}, -1);
}

int CRemoteCamera::getWhiteBalanceMode(unsigned long id) {
    return callU32("getWhiteBalanceMode", {{"id", id}}, -1);
}

}  // namespace android
