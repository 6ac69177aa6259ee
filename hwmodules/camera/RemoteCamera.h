#pragma once

#include <pthread.h>

#include <atomic>
#include <initializer_list>
#include <memory>

#include <media/stagefright/foundation/AString.h>

#include "RemoteHGCMConnection.h"
#include "RemoteObject.h"

namespace android {

class CRemoteParameters;

// The host's answer to captureFrame when preview cannot start.
static const int HOST_BUSY = static_cast<int>(0xC00D3704u);

// The proxy of the host camera service, an object of the remote class "CameraDevice".
// Integers travel as 32-bit values, texts as strings, frames as buffers; a 64-bit value travels
// as two 32-bit entries "<name>_high" and "<name>_low".
//
// The static queries each open a TCP connection of their own to port 10072, create an
// instance, make one call, delete the instance and close the connection. They take no lock
// and may run on any thread.
//
// An object is the connection of one open camera: setCameraIx opens its long-lived hybrid
// connection, creates the instance and selects the camera; every other method is one call
// over that connection, made under the object's call lock, so calls from several threads
// never interleave. A failed call closes the connection for good: every later call fails at
// once with its failure value. A call made while the camera is not connected fails the same
// way without reaching the host. Failures are logged; output arguments are then not written.
class CRemoteCamera {
public:
    CRemoteCamera();
    // Deletes the instance on the host, closes the connection and releases the driver client.
    ~CRemoteCamera();

    // --- module-level queries

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

    // --- calls of an open camera

    // Connects to the host and selects camera ix. 0 once connected; -1 otherwise (the failure
    // is logged). Only the first call can connect.
    int setCameraIx(int ix);
    // True from a successful setCameraIx until a call fails or disconnect.
    bool isConnected() const { return _connected && !_broken; }
    // True once a call failed and closed the connection (disconnect does not count).
    bool isBroken() const { return _broken; }
    // Ends the host connection for good, as destruction does (the instance is deleted, the
    // connection closed, the driver client released), once a call in flight has finished.
    // Every later call fails without reaching the host.
    void disconnect();

    // The host keeps its current frame in a sample store: its store number, 64-bit sample
    // number and timestamp. 0, or -1 with the outputs untouched.
    int saveFrameToSampleStore(unsigned long* store, unsigned long long* sample,
                               unsigned long long* timestamp);
    // Hands a sample back; the host's answer (negative when it refuses), 0 on failure.
    int releaseOneFrame(unsigned long store, unsigned long long sample);

    // Size lists; counts are -1 and texts empty on failure. Sizes read "<w>x<h>".
    int getNumPreviewSize();
    AString getPreviewSize(int ix);
    AString getPreferredPreviewSize();
    AString getPictureSize(int ix);
    int getNumVideoSize();
    AString getVideoSize(unsigned long ix);

    void setPreviewSize(AString size);
    void setPictureSize(AString size);
    void setVideoSize(AString size);
    void setPreviewFormat(AString format);
    void setPictureFormat(AString format);
    void setVideoFormat(AString format);
    void setPreviewFPS(unsigned long fps);

    // The host's capture status (HOST_BUSY when preview cannot start); -1 on failure.
    int captureFrame(unsigned long id);
    // The host writes its captured frame into the window buffer it knows as cb.
    void updateFrameToCB(unsigned long frameId, unsigned long cb);

    // Frame fetches: a new[] array the caller releases with delete[], its size and the two
    // halves of its timestamp (microseconds). NULL with size 0 when the host sent no frame;
    // NULL with the outputs untouched on failure. Stream id 0 is video, 1 preview.
    unsigned char* getFrameContents(unsigned long id, unsigned long* size, unsigned long* tsLow,
                                    unsigned long* tsHigh);
    unsigned char* getPreviewContents(unsigned long id, unsigned long* size, unsigned long* tsLow,
                                      unsigned long* tsHigh);
    // The picture and its thumbnail, as JPEG files.
    unsigned char* getPhotoFrameContents(unsigned long id, unsigned long* size,
                                         unsigned long* tsLow, unsigned long* tsHigh);
    unsigned char* getThumbnailContents(unsigned long id, unsigned long* size, unsigned long* tsLow,
                                        unsigned long* tsHigh);

    void setExposureCompensation(unsigned long id, unsigned long value);
    // White balance as a colour temperature (0 is automatic).
    void setWhiteBalanceMode(unsigned long id, unsigned long mode);
    // 0 when the feature is not supported, -1 on failure.
    int isWhiteBalanceSupported(unsigned long id);
    int isAutoFocusSupported(unsigned long id);
    int isExposureSupported(unsigned long id);
    int getWhiteBalanceMode(unsigned long id);

private:
    CRemoteCamera(const CRemoteCamera&) = delete;
    CRemoteCamera& operator=(const CRemoteCamera&) = delete;

    enum QueryOutcome { QUERY_OK, QUERY_NO_CONNECTION, QUERY_NO_INSTANCE, QUERY_CALL_FAILED };

    // Reads the result out of a static query's reply into *result.
    typedef void (*ReplyReader)(CRemoteParameters* reply, void* result);

    // Runs one static query of request. On QUERY_OK, read takes the result from the reply
    // while the instance still lives, before "__deleteThis" goes out. When log is set, a failed
    // connection or instance is logged.
    static QueryOutcome staticQuery(CRemoteParameters* request, bool log, ReplyReader read,
                                    void* result);
    // A static query whose only argument is the optional "ix" and whose result is "__return".
    static int staticU32Query(const char* function, const int* ix, bool log);

    // Holds the call lock for a scope.
    class CallLock {
    public:
        explicit CallLock(pthread_mutex_t* lock) : _lock(lock) { pthread_mutex_lock(_lock); }
        ~CallLock() { pthread_mutex_unlock(_lock); }

    private:
        pthread_mutex_t* _lock;
    };

    struct U32Arg {
        const char* key;
        unsigned long value;
    };

    // One call with the call lock held: "__function" = function, the 32-bit arguments and,
    // when textKey is set, one text argument. False when the camera is not connected or the
    // call failed; a failed call closes the connection. The caller logs the failure.
    bool invoke(const char* function, std::initializer_list<U32Arg> args, CRemoteParameters* reply,
                const char* textKey = nullptr, const char* text = nullptr);
    // Calls whose result is "__return" (32-bit, or text), or that have none; each logs
    // "Failed on <function>" on failure.
    int callU32(const char* function, std::initializer_list<U32Arg> args, int failure);
    AString callText(const char* function, std::initializer_list<U32Arg> args);
    void callVoid(const char* function, std::initializer_list<U32Arg> args,
                  const char* textKey = nullptr, const char* text = nullptr);
    unsigned char* fetchFrame(const char* function, unsigned long id, unsigned long* size,
                              unsigned long* tsLow, unsigned long* tsHigh);

    // Released together by disconnect; the object goes first, since it talks through the
    // connection.
    std::unique_ptr<CRemoteHGCMConnection> _hgcm_connection;
    std::unique_ptr<CRemoteObject> _remote_object;
    std::atomic<bool> _connected;
    std::atomic<bool> _broken;  // a call failed and closed the connection
    bool _bound;                // setCameraIx bound the remote object; it can't be bound again
    pthread_mutex_t _call_lock;
};

}  // namespace android
