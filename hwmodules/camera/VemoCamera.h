#pragma once

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <camera/CameraParameters.h>
#include <hardware/camera.h>
#include <media/stagefright/foundation/AString.h>

#include "Exif.h"
#include "RemoteCamera.h"
#include "WorkerThread.h"

namespace android {

// One open camera: the device the camera service drives through the 23 operations of the
// camera device interface 1.0, forwarded to the host camera through its proxy.
//
// Threads: the camera service calls the operations on its own threads; the device's worker
// thread runs the passes (inWorkerThread) that move frames and make the callbacks, without
// holding any lock while it calls the client.
//
// Locks: _lock guards the message mask, the preview window, the start of the worker, the
// pending parameter changes and the parameter set _params. It comes before the proxy's call
// lock. No operation holds it while it waits for the worker. The preview step holds the window
// (not the lock) while it asks the host for a frame, and setPreviewWindow waits until the step
// is done with the window it takes away.
class CVemoCamera : public IWorker {
public:
    // Creates the device for camera id and connects it to the host. Called by _open only.
    CVemoCamera(int id, const hw_module_t* module);
    // Stops the worker and closes the host connection. Called through close only.
    ~CVemoCamera() override;

    // The device handed to the camera service; priv leads back to this object.
    camera_device_t* device() { return &_device; }
    // False when the host camera could not be reached at creation.
    bool isConnected() const { return _camera != nullptr && _camera->isConnected(); }

    // The device header's close: destroys the device.
    static int close(hw_device_t* device);

    // --- the 23 operations, each as the static entry of the operations table (which finds the
    // object through priv) and as the member that does the work.
    static int setPreviewWindow(camera_device_t* dev, preview_stream_ops* window);
    static void setCallbacks(camera_device_t* dev, camera_notify_callback notify,
                             camera_data_callback data,
                             camera_data_timestamp_callback dataTimestamp,
                             camera_request_memory requestMemory, void* cookie);
    static void enableMsgType(camera_device_t* dev, int32_t type);
    static void disableMsgType(camera_device_t* dev, int32_t type);
    static int msgTypeEnabled(camera_device_t* dev, int32_t type);
    static int startPreview(camera_device_t* dev);
    static void stopPreview(camera_device_t* dev);
    static int previewEnabled(camera_device_t* dev);
    static int storeMetaDataInBuffers(camera_device_t* dev, int enable);
    static int startRecording(camera_device_t* dev);
    static void stopRecording(camera_device_t* dev);
    static int recordingEnabled(camera_device_t* dev);
    static void releaseRecordingFrame(camera_device_t* dev, const void* opaque);
    static int autoFocus(camera_device_t* dev);
    static int cancelAutoFocus(camera_device_t* dev);
    static int takePicture(camera_device_t* dev);
    static int cancelPicture(camera_device_t* dev);
    static int setParameters(camera_device_t* dev, const char* params);
    static char* getParameters(camera_device_t* dev);
    static void putParameters(camera_device_t* dev, char* params);
    static int sendCommand(camera_device_t* dev, int32_t cmd, int32_t arg1, int32_t arg2);
    static void release(camera_device_t* dev);
    static int dump(camera_device_t* dev, int fd);

    // Takes _lock; waits while the preview step uses the window it replaces. 0, or -22 when
    // the window refuses the geometry.
    int setPreviewWindow(preview_stream_ops* window);
    void setCallbacks(camera_notify_callback notify, camera_data_callback data,
                      camera_data_timestamp_callback dataTimestamp,
                      camera_request_memory requestMemory, void* cookie);
    void enableMsgType(int32_t type);
    void disableMsgType(int32_t type);
    // The bits of type that are enabled.
    int msgTypeEnabled(int32_t type);
    // Takes _lock; asks the host for a frame. 0, -12 when the worker can't be started, or -19
    // once the host connection has failed (so for startRecording, autoFocus and takePicture).
    int startPreview();
    void stopPreview();
    int previewEnabled();
    int storeMetaDataInBuffers(int enable);
    // 0, or -12 when the worker can't be started.
    int startRecording();
    void stopRecording();
    int recordingEnabled();
    // Client thread; hands a metadata record's sample back to the host.
    void releaseRecordingFrame(const void* opaque);
    int autoFocus();
    int cancelAutoFocus();
    // 0, -22 for a picture format the device can't deliver, or -19.
    int takePicture();
    int cancelPicture();
    // 0 when accepted, -22 when refused (some changes may take effect before a refusal).
    int setParameters(const char* params);
    // A malloc'ed copy of the flattened parameters, for putParameters.
    char* getParameters();
    void putParameters(char* params);
    // -22 for face detection, 0 for anything else.
    int sendCommand(int32_t cmd, int32_t arg1, int32_t arg2);
    void release();
    int dump(int fd);

    // --- the worker's side

    // One pass: power status, pending changes, preview, recording, picture, focus. Worker
    // thread only.
    bool inWorkerThread() override;
    // Stops the worker when preview, recording and a pending picture are all off. The decision
    // is taken under _lock, where the starts start the worker, so a start made meanwhile keeps
    // it; the wait is made without the lock. The caller must not hold _lock.
    void stopWorkerIfIdle();

    // The EXIF data of the picture being taken: builds the element table from the parameters
    // and the clock and hands it to the EXIF library. Worker thread, inside the capture step.
    int addExifData();
    // Appends one element to the table (see ExifTable::insert).
    int insertExifTags(const char* name, const char* value, unsigned int length, bool gps);
    const ExifTable& exifTable() const { return _exif; }

private:
    CVemoCamera(const CVemoCamera&) = delete;
    CVemoCamera& operator=(const CVemoCamera&) = delete;

    // Bits of _changed: parameter changes waiting for the worker.
    enum {
        CHANGE_EXPOSURE = 0x01,
        CHANGE_WHITE_BALANCE = 0x02,
        CHANGE_PREVIEW_SIZE = 0x04,
        CHANGE_PICTURE_SIZE = 0x08,
        CHANGE_VIDEO_SIZE = 0x10,
        CHANGE_PREVIEW_FORMAT = 0x20,
        CHANGE_PICTURE_FORMAT = 0x40,
        CHANGE_VIDEO_FORMAT = 0x80,
    };

    // The object behind a device, or NULL after logging "<operation>: Unexpected NULL camera
    // device".
    static CVemoCamera* fromDevice(camera_device_t* dev, const char* operation);

    void setDefaultParams();
    // The host's sizes and features, into _params. Called by the constructor.
    void setHostParams();
    // Applies the pending changes to the host. Worker thread.
    void handleParamChange();
    // The frame steps. Worker thread.
    void handlePreview();
    void handleRecording();
    void handleTakePicture();
    void handleAutoFocusNotify();
    // Calls the notify callback with message when the client enabled it.
    void notifyIfEnabled(int32_t message, int32_t ext1 = 0);
    // The host connection failed: ends preview, recording and a pending picture and tells the
    // client, once for the device's life. Worker thread.
    void reportLostHost();
    // True (logged with operation) once the host connection has failed: an operation that
    // needs the host then returns -19.
    bool hostLost(const char* operation) const;

    // One block of callback memory of size bytes from the client, or NULL when none can be
    // had: no block, no data, a failed mapping or fewer bytes than asked for (such a block goes
    // back at once).
    static camera_memory_t* requestBlock(camera_request_memory requestMemory, size_t size);
    // Starts the worker with _lock held; -12 when it can't be started.
    int startWorkerLocked();
    // stopWorkerIfIdle with _lock held on entry and on return; it is let go for the wait.
    void stopWorkerIfIdleLocked(std::unique_lock<std::mutex>& lock);
    // Wakes an idle worker so that a new request takes effect at once.
    void wakeWorker();

    camera_device_t _device;
    CameraParameters _params;
    int32_t _camera_id;
    preview_stream_ops* _preview_ops;
    // The preview step has a buffer of _preview_ops out (under _lock); _window_idle is
    // signalled when it is back. While a setPreviewWindow waits for that (_window_changes),
    // the step takes no new buffer, so that the wait ends.
    bool _window_busy;
    int _window_changes;
    std::condition_variable _window_idle;
    std::atomic<bool> _first_preview_frame;
    CRemoteCamera* _camera;
    std::atomic<bool> _previewing;
    std::atomic<bool> _recording;
    std::atomic<bool> _take_picture;
    std::atomic<bool> _auto_focus;
    std::atomic<bool> _host_lost_reported;
    int32_t _msg_enabled;
    std::atomic<int32_t> _jpeg_quality;
    CWorkerThread* _worker;
    int32_t _preview_width;
    int32_t _preview_height;
    std::mutex _lock;
    camera_notify_callback _notify_cb;
    camera_data_callback _data_cb;
    camera_data_timestamp_callback _data_cb_timestamp;
    camera_request_memory _request_memory;
    void* _cb_cookie;
    std::atomic<bool> _meta_data_in_buffers;
    uint32_t _changed;
    int32_t _new_exposure;
    uint32_t _new_white_balance;
    int32_t _new_preview_width;
    int32_t _new_preview_height;
    int32_t _new_picture_width;
    int32_t _new_picture_height;
    int32_t _new_video_width;
    int32_t _new_video_height;
    AString _new_preview_format;
    AString _new_picture_format;
    AString _new_video_format;

    // Set by a step that did work in the current pass; worker thread only.
    bool _pass_busy;
    // False when the host said the camera has no white balance to choose; set at creation.
    bool _white_balance_supported;

    // The EXIF elements of the picture being taken; worker thread only.
    ExifTable _exif;

    static camera_device_ops_t _dev_ops;
};

}  // namespace android
