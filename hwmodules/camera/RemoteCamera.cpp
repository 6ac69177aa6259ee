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

CRemoteCamera::QueryOutcome CRemoteCamera::staticQuery(CRemoteParameters* request,
                                                       CRemoteParameters* reply, bool log) {
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
    // The object's destructor deletes the instance and closes the connection.
    return object.executeMethod(request, reply) == 0 ? QUERY_OK : QUERY_CALL_FAILED;
}

int CRemoteCamera::staticU32Query(const char* function, const int* ix, bool log) {
    CRemoteParameters request;
    CRemoteParameters reply;
    request.addParam("__function", function);
    if (ix != nullptr) {
        request.addParam("ix", static_cast<unsigned long>(*ix));
    }
    if (staticQuery(&request, &reply, log) != QUERY_OK) {
        return 0;
    }
    return static_cast<int>(reply.getU32Param("__return"));
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
    CRemoteParameters reply;
    request.addParam("__function", "getCameraName");
    request.addParam("ix", static_cast<unsigned long>(ix));
    switch (staticQuery(&request, &reply, false)) {
        case QUERY_OK:
            return reply.getStrParam("__return");
        case QUERY_CALL_FAILED:
            return AString("N/A");
        default:
            return AString();
    }
}

}  // namespace android
