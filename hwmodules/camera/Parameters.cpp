// The camera parameters of the device: defaults, the host's sizes and features, validation of
// a new parameter set, and the push of pending changes to the host.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <log/log.h>
#include <system/graphics.h>

#include "VemoCamera.h"

namespace android {

namespace {

// Handed out by getParameters when no copy can be allocated.
char lNoParam[] = "";

// Most preview sizes asked of the host.
const int kMaxHostSizes = 64;

// White balance values the host takes: colour temperatures, 0 for automatic.
const uint32_t kWhiteBalanceAuto = 0;
const uint32_t kWhiteBalanceIncandescent = 3000;
const uint32_t kWhiteBalanceDaylight = 5500;

const char* whiteBalanceName(int mode) {
    if (mode == static_cast<int>(kWhiteBalanceIncandescent)) {
        return CameraParameters::WHITE_BALANCE_INCANDESCENT;
    }
    if (mode == static_cast<int>(kWhiteBalanceDaylight)) {
        return CameraParameters::WHITE_BALANCE_DAYLIGHT;
    }
    return CameraParameters::WHITE_BALANCE_AUTO;
}

}  // namespace

void CVemoCamera::setDefaultParams() {
    CameraParameters& p = _params;
    p.set(CameraParameters::KEY_SUPPORTED_PREVIEW_FORMATS, "yuv420sp,yuv420p,yuv422i-yuyv");
    p.set(CameraParameters::KEY_SUPPORTED_JPEG_THUMBNAIL_SIZES, "75x75,0x0");
    p.set(CameraParameters::KEY_JPEG_THUMBNAIL_WIDTH, "75");
    p.set(CameraParameters::KEY_JPEG_THUMBNAIL_HEIGHT, "75");
    p.set(CameraParameters::KEY_JPEG_QUALITY, "90");
    p.set(CameraParameters::KEY_FOCAL_LENGTH, "4.31");
    p.set(CameraParameters::KEY_HORIZONTAL_VIEW_ANGLE, "54.8");
    p.set(CameraParameters::KEY_VERTICAL_VIEW_ANGLE, "42.5");
    p.set(CameraParameters::KEY_JPEG_THUMBNAIL_QUALITY, "90");
    p.setPreviewFormat(CameraParameters::PIXEL_FORMAT_YUV420SP);
    p.set(CameraParameters::KEY_SUPPORTED_PREVIEW_FRAME_RATES, "30,24,20,15,10,5");
    p.set(CameraParameters::KEY_SUPPORTED_PREVIEW_FPS_RANGE, "(500,30000)");
    p.set(CameraParameters::KEY_PREVIEW_FPS_RANGE, "500,30000");
    p.setPreviewFrameRate(24);
    p.set(CameraParameters::KEY_VIDEO_FRAME_FORMAT, CameraParameters::PIXEL_FORMAT_YUV420P);
    p.set(CameraParameters::KEY_SUPPORTED_PICTURE_FORMATS, CameraParameters::PIXEL_FORMAT_JPEG);
    p.setPictureFormat(CameraParameters::PIXEL_FORMAT_JPEG);
    p.set(CameraParameters::KEY_MAX_EXPOSURE_COMPENSATION, "6");
    p.set(CameraParameters::KEY_MIN_EXPOSURE_COMPENSATION, "-6");
    p.set(CameraParameters::KEY_EXPOSURE_COMPENSATION_STEP, "0.5");
    p.set(CameraParameters::KEY_EXPOSURE_COMPENSATION, "0");
    p.remove(CameraParameters::KEY_GPS_LATITUDE);
    p.remove(CameraParameters::KEY_GPS_LONGITUDE);
    p.remove(CameraParameters::KEY_GPS_ALTITUDE);
    p.remove(CameraParameters::KEY_GPS_TIMESTAMP);
    p.remove(CameraParameters::KEY_GPS_PROCESSING_METHOD);
    char balances[1024];
    snprintf(balances, sizeof(balances), "%s,%s,%s,%s", CameraParameters::WHITE_BALANCE_AUTO,
             CameraParameters::WHITE_BALANCE_INCANDESCENT, CameraParameters::WHITE_BALANCE_DAYLIGHT,
             CameraParameters::WHITE_BALANCE_TWILIGHT);
    p.set(CameraParameters::KEY_SUPPORTED_WHITE_BALANCE, balances);
    p.set(CameraParameters::KEY_WHITE_BALANCE, CameraParameters::WHITE_BALANCE_AUTO);
    p.set(CameraParameters::KEY_FOCUS_DISTANCES, "0.20,0.25,Infinity");
    p.set(CameraParameters::KEY_SUPPORTED_FOCUS_MODES, CameraParameters::FOCUS_MODE_FIXED);
    p.set(CameraParameters::KEY_FOCUS_MODE, CameraParameters::FOCUS_MODE_FIXED);
    p.set(CameraParameters::KEY_SUPPORTED_FLASH_MODES, CameraParameters::FLASH_MODE_OFF);
    p.set(CameraParameters::KEY_FLASH_MODE, CameraParameters::FLASH_MODE_OFF);
    p.set("prop-facing", "front");
    p.set("prop-orientation", 0);
    p.set("prop-exif-model", "vemo");
    p.set("prop-exif-make", "vemo");
    p.set(CameraParameters::KEY_SUPPORTED_VIDEO_SIZES, "1280x720,640x480");
    p.set(CameraParameters::KEY_PREFERRED_PREVIEW_SIZE_FOR_VIDEO, "1280x720");
    p.set(CameraParameters::KEY_VIDEO_SIZE, "1280x720");
    p.setVideoSize(1280, 720);
}

void CVemoCamera::setHostParams() {
    const int count = _camera->getNumPreviewSize();
    AString sizes;
    // The count is the host's: a broken one must not cost billions of calls.
    const int asked = count < kMaxHostSizes ? count : kMaxHostSizes;
    for (int i = 0; i < asked; ++i) {
        if (i != 0) {
            sizes.append(",");
        }
        sizes.append(_camera->getPreviewSize(i));
    }
    ALOGE("Supported PS - %d, %s", count, sizes.c_str());
    if (count != 0) {
        _params.set(CameraParameters::KEY_SUPPORTED_PREVIEW_SIZES, sizes.c_str());
        _params.set(CameraParameters::KEY_SUPPORTED_PICTURE_SIZES, sizes.c_str());
    }
    // An unsupported feature keeps its current value as the one supported value, so that a
    // client never sees a current value outside its list.
    if (_camera->isWhiteBalanceSupported(_camera_id) == 0) {
        _white_balance_supported = false;
        _params.set(CameraParameters::KEY_SUPPORTED_WHITE_BALANCE,
                    CameraParameters::WHITE_BALANCE_AUTO);
        _params.set(CameraParameters::KEY_WHITE_BALANCE, CameraParameters::WHITE_BALANCE_AUTO);
    }
    if (_camera->isAutoFocusSupported(_camera_id) == 0) {
        _params.set(CameraParameters::KEY_SUPPORTED_FOCUS_MODES,
                    CameraParameters::FOCUS_MODE_FIXED);
    }
    if (_camera->isExposureSupported(_camera_id) == 0) {
        // Bounds that read as 0 switch exposure compensation off; its step goes with them.
        _params.set(CameraParameters::KEY_MAX_EXPOSURE_COMPENSATION, "");
        _params.set(CameraParameters::KEY_MIN_EXPOSURE_COMPENSATION, "");
        _params.set(CameraParameters::KEY_EXPOSURE_COMPENSATION_STEP, "0");
    }
}

int CVemoCamera::setParameters(const char* text) {
    if (text == nullptr) {
        return -22;
    }
    CameraParameters next;
    next.unflatten(String8(text));

    // The host is asked first, in the order the steps below use the answers and only where
    // they need them, so that _lock is not held while a frame call holds the proxy.
    const char* balance = next.get(CameraParameters::KEY_WHITE_BALANCE);
    const char* balances = next.get(CameraParameters::KEY_SUPPORTED_WHITE_BALANCE);
    const bool balanceAsked = _white_balance_supported && balance != nullptr &&
                              balances != nullptr && strstr(balances, balance) != nullptr;
    const char* currentBalance =
        balanceAsked ? whiteBalanceName(_camera->getWhiteBalanceMode(_camera_id)) : nullptr;
    const char* flash = next.get(CameraParameters::KEY_FLASH_MODE);
    const char* focus = next.get(CameraParameters::KEY_FOCUS_MODE);
    const bool refused = (flash != nullptr && strcmp(flash, "invalid") == 0) ||
                         (focus != nullptr && strcmp(focus, "invalid") == 0);
    // The host decides the preview size: its preferred size is what the device uses, whatever
    // the client asked for.
    const AString preferred = refused ? AString() : _camera->getPreferredPreviewSize();

    std::unique_lock<std::mutex> lock(_lock);

    const int minimum = next.getInt(CameraParameters::KEY_MIN_EXPOSURE_COMPENSATION);
    const int maximum = next.getInt(CameraParameters::KEY_MAX_EXPOSURE_COMPENSATION);
    if (minimum != 0 || maximum != 0) {
        int exposure = next.getInt(CameraParameters::KEY_EXPOSURE_COMPENSATION);
        exposure = exposure < maximum ? exposure : maximum;
        exposure = exposure > minimum ? exposure : minimum;
        if (exposure != _params.getInt(CameraParameters::KEY_EXPOSURE_COMPENSATION)) {
            ALOGI("Setting new exposure value to %d  %d", exposure, exposure);
            _changed |= CHANGE_EXPOSURE;
            _new_exposure = exposure;
            ALOGI("new exposure to set %d", exposure);
        }
    }

    if (balanceAsked && strcmp(currentBalance, balance) != 0) {
        ALOGI("Setting white balance to %s", balance);
        if (strcmp(balance, CameraParameters::WHITE_BALANCE_AUTO) == 0) {
            _new_white_balance = kWhiteBalanceAuto;
        } else if (strcmp(balance, CameraParameters::WHITE_BALANCE_INCANDESCENT) == 0) {
            _new_white_balance = kWhiteBalanceIncandescent;
        } else if (strcmp(balance, CameraParameters::WHITE_BALANCE_DAYLIGHT) == 0) {
            _new_white_balance = kWhiteBalanceDaylight;
        }
        _changed |= CHANGE_WHITE_BALANCE;
    }

    if (refused) {
        return -22;
    }

    // Either field keeps its value when its part of the answer doesn't parse.
    sscanf(preferred.c_str(), "%dx%d", &_new_preview_width, &_new_preview_height);
    if (_new_preview_width < 0 || _new_preview_height < 0) {
        return -22;
    }
    _changed |= CHANGE_PREVIEW_SIZE;
    // A size of nothing (the host did not answer yet) must not shrink a live window to 0x0.
    if ((_new_preview_width != _preview_width || _new_preview_height != _preview_height) &&
        _new_preview_width > 0 && _new_preview_height > 0 && _preview_ops != nullptr) {
        _preview_ops->set_buffers_geometry(_preview_ops, _new_preview_width, _new_preview_height,
                                           HAL_PIXEL_FORMAT_RGB_888);
        _preview_width = _new_preview_width;
        _preview_height = _new_preview_height;
    }

    next.getPictureSize(&_new_picture_width, &_new_picture_height);
    if (_new_picture_width < 0 || _new_picture_height < 0) {
        return -22;
    }
    _changed |= CHANGE_PICTURE_SIZE;

    const char* previewFormat = next.getPreviewFormat();
    if (previewFormat == nullptr) {
        return -22;
    }
    _new_preview_format.setTo(previewFormat);
    _changed |= CHANGE_PREVIEW_FORMAT;

    const char* pictureFormat = next.getPictureFormat();
    if (pictureFormat == nullptr) {
        return -22;
    }
    _new_picture_format.setTo(pictureFormat);
    _changed |= CHANGE_PICTURE_FORMAT;

    const char* videoFormat = next.get(CameraParameters::KEY_VIDEO_FRAME_FORMAT);
    if (videoFormat == nullptr) {
        return -22;
    }
    _new_video_format.setTo(videoFormat);
    _changed |= CHANGE_VIDEO_FORMAT;

    int lowFps = 0;
    int highFps = 0;
    next.getPreviewFpsRange(&lowFps, &highFps);
    if (highFps < 0 || lowFps > highFps) {
        return -22;
    }

    next.getVideoSize(&_new_video_width, &_new_video_height);
    _changed |= CHANGE_VIDEO_SIZE;

    _params = next;
    lock.unlock();
    wakeWorker();
    return 0;
}

void CVemoCamera::handleParamChange() {
    const AString preferred = _camera->getPreferredPreviewSize();

    uint32_t changed = 0;
    int32_t exposure = 0;
    uint32_t balance = 0;
    AString previewFormat;
    AString pictureFormat;
    AString videoFormat;
    char videoSize[32];
    {
        std::lock_guard<std::mutex> guard(_lock);
        changed = _changed;
        _changed = 0;
        exposure = _new_exposure;
        balance = _new_white_balance;
        previewFormat = _new_preview_format;
        pictureFormat = _new_picture_format;
        videoFormat = _new_video_format;
        snprintf(videoSize, sizeof(videoSize), "%dx%d", _new_video_width, _new_video_height);
    }
    const unsigned long id = static_cast<unsigned long>(_camera_id);
    if (changed & CHANGE_EXPOSURE) {
        _camera->setExposureCompensation(
            id, static_cast<unsigned long>(static_cast<uint32_t>(exposure)));
    }
    if (changed & CHANGE_WHITE_BALANCE) {
        _camera->setWhiteBalanceMode(id, balance);
    }
    if (changed & CHANGE_PREVIEW_SIZE) {
        _camera->setPreviewSize(preferred);
    }
    if (changed & CHANGE_PICTURE_SIZE) {
        _camera->setPictureSize(preferred);
    }
    if (changed & CHANGE_PREVIEW_FORMAT) {
        _camera->setPreviewFormat(previewFormat);
    }
    if (changed & CHANGE_PICTURE_FORMAT) {
        _camera->setPictureFormat(pictureFormat);
    }
    if (changed & CHANGE_VIDEO_FORMAT) {
        _camera->setVideoFormat(videoFormat);
    }
    if (changed & CHANGE_VIDEO_SIZE) {
        _camera->setVideoSize(videoSize);
    }
    _pass_busy = true;
}

char* CVemoCamera::getParameters() {
    String8 flattened;
    {
        std::lock_guard<std::mutex> guard(_lock);
        flattened = _params.flatten();
    }
    char* copy = static_cast<char*>(calloc(flattened.length() + 1, 1));
    if (copy == nullptr) {
        ALOGE("%s: Unable to allocate string for %s", "getParameters", flattened.string());
        return lNoParam;
    }
    memcpy(copy, flattened.string(), flattened.length());
    ALOGE("params - %s", copy);
    return copy;
}

void CVemoCamera::putParameters(char* params) {
    if (params != nullptr && params != lNoParam) {
        free(params);
    }
}

}  // namespace android
