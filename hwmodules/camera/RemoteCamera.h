#pragma once

#include <media/stagefright/foundation/AString.h>

namespace android {

class CRemoteParameters;

// The proxy of the host camera service, an object of the remote class "CameraDevice".
// Integers travel as 32-bit values, texts as strings.
//
// The static queries below each open a TCP connection of their own to port 10072, create an
// instance, make one call, delete the instance and close the connection. They take no lock
// and may run on any thread. Each gives its failure value when the host cannot be reached or
// does not answer.
class CRemoteCamera {
public:
    // Number of host cameras; 0 on failure.
    static int getNumCamera();
    // The host's current orientation; 0 on failure.
    static int getCurrentOrientation();
    // Name of camera ix: empty when no connection or instance came about, "N/A" when the
    // call itself failed.
    static AString getCameraName(int ix);
    // Mounting orientation of camera ix in degrees; 0 on failure.
    static int getCameraOrientation(int ix);
    // The host's facing code of camera ix (0 faces the user); 0 on failure.
    static int getCameraFacing(int ix);

private:
    enum QueryOutcome { QUERY_OK, QUERY_NO_CONNECTION, QUERY_NO_INSTANCE, QUERY_CALL_FAILED };

    // Runs one static query of request; on QUERY_OK reply holds the host's answer. When log
    // is set, a failed connection or instance is logged.
    static QueryOutcome staticQuery(CRemoteParameters* request, CRemoteParameters* reply, bool log);
    // A query whose only argument is the optional "ix" and whose result is "__return" (32-bit).
    static int staticU32Query(const char* function, const int* ix, bool log);
};

}  // namespace android
