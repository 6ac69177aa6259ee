// The still-capture step: shutter notifications, the host's JPEG picture with the device's
// EXIF data and the host's thumbnail, delivered as the compressed image. A capture ends preview.

#include <unistd.h>

#include <mutex>

#include <jhead.h>
#include <log/log.h>

#include "VemoCamera.h"

namespace android {

namespace {

// The EXIF library edits one file at a time in global state; devices of several cameras take
// pictures on their own workers, so they take turns.
std::mutex gExifLibraryLock;

// Room the EXIF data and the thumbnail may add to the host's picture.
const size_t kBlockSlack = 1024;

}  // namespace

int CVemoCamera::addExifData() {
    CameraParameters params;
    {
        std::lock_guard<std::mutex> guard(_lock);
        params = _params;
    }
    _exif.build(params, time(nullptr));
    create_EXIF(_exif.elements(), _exif.tagCount(), _exif.gpsCount(), 1);
    return 0;
}

int CVemoCamera::insertExifTags(const char* name, const char* value, unsigned int length,
                                bool gps) {
    return _exif.insert(name, value, length, gps);
}

void CVemoCamera::notifyIfEnabled(int32_t message, int32_t ext1) {
    camera_notify_callback notify = nullptr;
    void* cookie = nullptr;
    {
        std::lock_guard<std::mutex> guard(_lock);
        if ((_msg_enabled & message) == 0) {
            return;
        }
        notify = _notify_cb;
        cookie = _cb_cookie;
    }
    if (notify != nullptr) {
        notify(message, ext1, 0, cookie);
    }
}

void CVemoCamera::handleTakePicture() {
    if (_recording) {
        _take_picture = false;
        return;
    }
    _pass_busy = true;
    notifyIfEnabled(CAMERA_MSG_SHUTTER);
    notifyIfEnabled(CAMERA_MSG_RAW_IMAGE_NOTIFY);
    usleep(50000);

    int thumbnailWidth = 0;
    int thumbnailHeight = 0;
    bool deliver = false;
    camera_data_callback dataCallback = nullptr;
    camera_request_memory requestMemory = nullptr;
    void* cookie = nullptr;
    {
        std::lock_guard<std::mutex> guard(_lock);
        thumbnailWidth = _params.getInt(CameraParameters::KEY_JPEG_THUMBNAIL_WIDTH);
        thumbnailHeight = _params.getInt(CameraParameters::KEY_JPEG_THUMBNAIL_HEIGHT);
        dataCallback = _data_cb;
        requestMemory = _request_memory;
        cookie = _cb_cookie;
        deliver = (_msg_enabled & CAMERA_MSG_COMPRESSED_IMAGE) != 0 && dataCallback != nullptr &&
                  requestMemory != nullptr;
    }
    if (deliver) {
        unsigned long length = 0;
        unsigned long thumbnailLength = 0;
        unsigned long tsLow = 0;
        unsigned long tsHigh = 0;
        unsigned char* picture = _camera->getPhotoFrameContents(0, &length, &tsLow, &tsHigh);
        if (picture == nullptr) {
            length = 0;
        }
        unsigned char* thumbnail = nullptr;
        if (thumbnailWidth != 0 && thumbnailHeight != 0) {
            thumbnail = _camera->getThumbnailContents(0, &thumbnailLength, &tsLow, &tsHigh);
        }
        if (thumbnail == nullptr) {
            thumbnailLength = 0;
        }
        ALOGE("len and thumb len %lu %lu", length, thumbnailLength);
        const size_t blockSize = length + thumbnailLength + kBlockSlack;
        camera_memory_t* block = requestBlock(requestMemory, blockSize);
        if (block == nullptr) {
            ALOGE("Memory failure");
            delete[] picture;
            delete[] thumbnail;
            _take_picture = false;
            return;
        }
        {
            std::lock_guard<std::mutex> guard(gExifLibraryLock);
            ResetJpgfile();
            if (picture == nullptr ||
                ReadJpegSectionsFromBuffer(picture, static_cast<unsigned int>(length),
                                           READ_IMAGE) == 0) {
                ALOGE("ReadJpegSectionsFromBuffer Fails\n\n\n");
            } else {
                addExifData();
                if (thumbnailLength != 0) {
                    ReplaceThumbnailFromBuffer(reinterpret_cast<const char*>(thumbnail),
                                               static_cast<int>(thumbnailLength));
                }
                if (WriteJpegToBuffer(static_cast<unsigned char*>(block->data),
                                      static_cast<unsigned int>(blockSize)) == 0) {
                    ALOGE("WriteJpegToBuffer Fails\n\n\n");
                }
            }
            // The library's state points into the host's picture, which goes below.
            ResetJpgfile();
        }
        // The capture is over before the client hears of it: a client that starts preview again
        // from the callback (or at once after it) must find preview stopped, not have its start
        // undone afterwards.
        _take_picture = false;
        _previewing = false;
        dataCallback(CAMERA_MSG_COMPRESSED_IMAGE, block, 0, nullptr, cookie);
        block->release(block);
        delete[] picture;
        delete[] thumbnail;
        return;
    }
    _take_picture = false;
    _previewing = false;
}

}  // namespace android
