#include <camera/CameraParameters.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <log/log.h>

namespace android {

const char CameraParameters::KEY_PREVIEW_SIZE[] = "preview-size";
const char CameraParameters::KEY_SUPPORTED_PREVIEW_SIZES[] = "preview-size-values";
const char CameraParameters::KEY_PREVIEW_FPS_RANGE[] = "preview-fps-range";
const char CameraParameters::KEY_SUPPORTED_PREVIEW_FPS_RANGE[] = "preview-fps-range-values";
const char CameraParameters::KEY_PREVIEW_FORMAT[] = "preview-format";
const char CameraParameters::KEY_SUPPORTED_PREVIEW_FORMATS[] = "preview-format-values";
const char CameraParameters::KEY_PREVIEW_FRAME_RATE[] = "preview-frame-rate";
const char CameraParameters::KEY_SUPPORTED_PREVIEW_FRAME_RATES[] = "preview-frame-rate-values";
const char CameraParameters::KEY_PICTURE_SIZE[] = "picture-size";
const char CameraParameters::KEY_SUPPORTED_PICTURE_SIZES[] = "picture-size-values";
const char CameraParameters::KEY_PICTURE_FORMAT[] = "picture-format";
const char CameraParameters::KEY_SUPPORTED_PICTURE_FORMATS[] = "picture-format-values";
const char CameraParameters::KEY_JPEG_THUMBNAIL_WIDTH[] = "jpeg-thumbnail-width";
const char CameraParameters::KEY_JPEG_THUMBNAIL_HEIGHT[] = "jpeg-thumbnail-height";
const char CameraParameters::KEY_SUPPORTED_JPEG_THUMBNAIL_SIZES[] = "jpeg-thumbnail-size-values";
const char CameraParameters::KEY_JPEG_THUMBNAIL_QUALITY[] = "jpeg-thumbnail-quality";
const char CameraParameters::KEY_JPEG_QUALITY[] = "jpeg-quality";
const char CameraParameters::KEY_ROTATION[] = "rotation";
const char CameraParameters::KEY_GPS_LATITUDE[] = "gps-latitude";
const char CameraParameters::KEY_GPS_LONGITUDE[] = "gps-longitude";
const char CameraParameters::KEY_GPS_ALTITUDE[] = "gps-altitude";
const char CameraParameters::KEY_GPS_TIMESTAMP[] = "gps-timestamp";
const char CameraParameters::KEY_GPS_PROCESSING_METHOD[] = "gps-processing-method";
const char CameraParameters::KEY_WHITE_BALANCE[] = "whitebalance";
const char CameraParameters::KEY_SUPPORTED_WHITE_BALANCE[] = "whitebalance-values";
const char CameraParameters::KEY_EFFECT[] = "effect";
const char CameraParameters::KEY_SUPPORTED_EFFECTS[] = "effect-values";
const char CameraParameters::KEY_ANTIBANDING[] = "antibanding";
const char CameraParameters::KEY_SUPPORTED_ANTIBANDING[] = "antibanding-values";
const char CameraParameters::KEY_SCENE_MODE[] = "scene-mode";
const char CameraParameters::KEY_SUPPORTED_SCENE_MODES[] = "scene-mode-values";
const char CameraParameters::KEY_FLASH_MODE[] = "flash-mode";
const char CameraParameters::KEY_SUPPORTED_FLASH_MODES[] = "flash-mode-values";
const char CameraParameters::KEY_FOCUS_MODE[] = "focus-mode";
const char CameraParameters::KEY_SUPPORTED_FOCUS_MODES[] = "focus-mode-values";
const char CameraParameters::KEY_MAX_NUM_FOCUS_AREAS[] = "max-num-focus-areas";
const char CameraParameters::KEY_FOCUS_AREAS[] = "focus-areas";
const char CameraParameters::KEY_FOCAL_LENGTH[] = "focal-length";
const char CameraParameters::KEY_HORIZONTAL_VIEW_ANGLE[] = "horizontal-view-angle";
const char CameraParameters::KEY_VERTICAL_VIEW_ANGLE[] = "vertical-view-angle";
const char CameraParameters::KEY_EXPOSURE_COMPENSATION[] = "exposure-compensation";
const char CameraParameters::KEY_MAX_EXPOSURE_COMPENSATION[] = "max-exposure-compensation";
const char CameraParameters::KEY_MIN_EXPOSURE_COMPENSATION[] = "min-exposure-compensation";
const char CameraParameters::KEY_EXPOSURE_COMPENSATION_STEP[] = "exposure-compensation-step";
const char CameraParameters::KEY_AUTO_EXPOSURE_LOCK[] = "auto-exposure-lock";
const char CameraParameters::KEY_AUTO_EXPOSURE_LOCK_SUPPORTED[] = "auto-exposure-lock-supported";
const char CameraParameters::KEY_AUTO_WHITEBALANCE_LOCK[] = "auto-whitebalance-lock";
const char CameraParameters::KEY_AUTO_WHITEBALANCE_LOCK_SUPPORTED[] =
    "auto-whitebalance-lock-supported";
const char CameraParameters::KEY_MAX_NUM_METERING_AREAS[] = "max-num-metering-areas";
const char CameraParameters::KEY_METERING_AREAS[] = "metering-areas";
const char CameraParameters::KEY_ZOOM[] = "zoom";
const char CameraParameters::KEY_MAX_ZOOM[] = "max-zoom";
const char CameraParameters::KEY_ZOOM_RATIOS[] = "zoom-ratios";
const char CameraParameters::KEY_ZOOM_SUPPORTED[] = "zoom-supported";
const char CameraParameters::KEY_SMOOTH_ZOOM_SUPPORTED[] = "smooth-zoom-supported";
const char CameraParameters::KEY_FOCUS_DISTANCES[] = "focus-distances";
const char CameraParameters::KEY_VIDEO_FRAME_FORMAT[] = "video-frame-format";
const char CameraParameters::KEY_VIDEO_SIZE[] = "video-size";
const char CameraParameters::KEY_SUPPORTED_VIDEO_SIZES[] = "video-size-values";
const char CameraParameters::KEY_PREFERRED_PREVIEW_SIZE_FOR_VIDEO[] =
    "preferred-preview-size-for-video";
const char CameraParameters::KEY_MAX_NUM_DETECTED_FACES_HW[] = "max-num-detected-faces-hw";
const char CameraParameters::KEY_MAX_NUM_DETECTED_FACES_SW[] = "max-num-detected-faces-sw";
const char CameraParameters::KEY_RECORDING_HINT[] = "recording-hint";
const char CameraParameters::KEY_VIDEO_SNAPSHOT_SUPPORTED[] = "video-snapshot-supported";
const char CameraParameters::KEY_VIDEO_STABILIZATION[] = "video-stabilization";
const char CameraParameters::KEY_VIDEO_STABILIZATION_SUPPORTED[] = "video-stabilization-supported";

const char CameraParameters::TRUE[] = "true";
const char CameraParameters::FALSE[] = "false";
const char CameraParameters::FOCUS_DISTANCE_INFINITY[] = "Infinity";

const char CameraParameters::WHITE_BALANCE_AUTO[] = "auto";
const char CameraParameters::WHITE_BALANCE_INCANDESCENT[] = "incandescent";
const char CameraParameters::WHITE_BALANCE_FLUORESCENT[] = "fluorescent";
const char CameraParameters::WHITE_BALANCE_WARM_FLUORESCENT[] = "warm-fluorescent";
const char CameraParameters::WHITE_BALANCE_DAYLIGHT[] = "daylight";
const char CameraParameters::WHITE_BALANCE_CLOUDY_DAYLIGHT[] = "cloudy-daylight";
const char CameraParameters::WHITE_BALANCE_TWILIGHT[] = "twilight";
const char CameraParameters::WHITE_BALANCE_SHADE[] = "shade";

const char CameraParameters::FLASH_MODE_OFF[] = "off";
const char CameraParameters::FLASH_MODE_AUTO[] = "auto";
const char CameraParameters::FLASH_MODE_ON[] = "on";
const char CameraParameters::FLASH_MODE_RED_EYE[] = "red-eye";
const char CameraParameters::FLASH_MODE_TORCH[] = "torch";

const char CameraParameters::FOCUS_MODE_AUTO[] = "auto";
const char CameraParameters::FOCUS_MODE_INFINITY[] = "infinity";
const char CameraParameters::FOCUS_MODE_MACRO[] = "macro";
const char CameraParameters::FOCUS_MODE_FIXED[] = "fixed";
const char CameraParameters::FOCUS_MODE_EDOF[] = "edof";
const char CameraParameters::FOCUS_MODE_CONTINUOUS_VIDEO[] = "continuous-video";
const char CameraParameters::FOCUS_MODE_CONTINUOUS_PICTURE[] = "continuous-picture";

const char CameraParameters::PIXEL_FORMAT_YUV422SP[] = "yuv422sp";
const char CameraParameters::PIXEL_FORMAT_YUV420SP[] = "yuv420sp";
const char CameraParameters::PIXEL_FORMAT_YUV422I[] = "yuv422i-yuyv";
const char CameraParameters::PIXEL_FORMAT_YUV420P[] = "yuv420p";
const char CameraParameters::PIXEL_FORMAT_RGB565[] = "rgb565";
const char CameraParameters::PIXEL_FORMAT_RGBA8888[] = "rgba8888";
const char CameraParameters::PIXEL_FORMAT_JPEG[] = "jpeg";
const char CameraParameters::PIXEL_FORMAT_BAYER_RGGB[] = "bayer-rggb";
const char CameraParameters::PIXEL_FORMAT_ANDROID_OPAQUE[] = "android-opaque";

namespace {

// Two integers separated by delim, as in "640x480" or "500,30000". -1 when the text does not
// start with that form.
int parsePair(const char* text, int* first, int* second, char delim, char** end = nullptr) {
    char* p = nullptr;
    const int a = static_cast<int>(strtol(text, &p, 10));
    if (*p != delim) {
        ALOGE("Cannot find delimeter (%c) in str=%s", delim, text);
        return -1;
    }
    const int b = static_cast<int>(strtol(p + 1, &p, 10));
    *first = a;
    *second = b;
    if (end != nullptr) {
        *end = p;
    }
    return 0;
}

void parseSizes(const char* text, std::vector<Size>& sizes) {
    if (text == nullptr) {
        return;
    }
    const char* p = text;
    while (*p != '\0') {
        int width = 0;
        int height = 0;
        char* end = nullptr;
        if (parsePair(p, &width, &height, 'x', &end) != 0) {
            return;
        }
        sizes.push_back(Size(width, height));
        if (*end == ',') {
            p = end + 1;
        } else {
            return;
        }
    }
}

void getSize(const CameraParameters& params, const char* key, int* width, int* height) {
    *width = -1;
    *height = -1;
    const char* value = params.get(key);
    if (value == nullptr) {
        return;
    }
    int w = 0;
    int h = 0;
    if (parsePair(value, &w, &h, 'x') == 0) {
        *width = w;
        *height = h;
    }
}

}  // namespace

CameraParameters::CameraParameters() {}

CameraParameters::~CameraParameters() {}

String8 CameraParameters::flatten() const {
    String8 flattened;
    for (size_t i = 0; i < mMap.size(); ++i) {
        if (i != 0) {
            flattened += ";";
        }
        flattened += mMap.keyAt(i);
        flattened += "=";
        flattened += mMap.valueAt(i);
    }
    return flattened;
}

void CameraParameters::unflatten(const String8& params) {
    mMap.clear();
    const char* a = params.string();
    for (;;) {
        const char* b = strchr(a, '=');
        if (b == nullptr) {
            break;
        }
        String8 key(a, static_cast<size_t>(b - a));
        a = b + 1;
        b = strchr(a, ';');
        if (b == nullptr) {
            mMap.add(key, String8(a));
            break;
        }
        mMap.add(key, String8(a, static_cast<size_t>(b - a)));
        a = b + 1;
    }
}

void CameraParameters::set(const char* key, const char* value) {
    if (key == nullptr || value == nullptr) {
        return;
    }
    if (strchr(key, '=') != nullptr || strchr(key, ';') != nullptr) {
        ALOGE("Key \"%s\"contains invalid character (= or ;)", key);
        return;
    }
    if (strchr(value, '=') != nullptr || strchr(value, ';') != nullptr) {
        ALOGE("Value \"%s\"contains invalid character (= or ;)", value);
        return;
    }
    mMap.replaceValueFor(String8(key), String8(value));
}

void CameraParameters::set(const char* key, int value) {
    char text[16];
    snprintf(text, sizeof(text), "%d", value);
    set(key, text);
}

void CameraParameters::setFloat(const char* key, float value) {
    char text[32];
    snprintf(text, sizeof(text), "%g", static_cast<double>(value));
    set(key, text);
}

const char* CameraParameters::get(const char* key) const {
    if (key == nullptr) {
        return nullptr;
    }
    const ssize_t index = mMap.indexOfKey(String8(key));
    return index >= 0 ? mMap.valueAt(static_cast<size_t>(index)).string() : nullptr;
}

int CameraParameters::getInt(const char* key) const {
    const char* value = get(key);
    return value != nullptr ? static_cast<int>(strtol(value, nullptr, 0)) : -1;
}

float CameraParameters::getFloat(const char* key) const {
    const char* value = get(key);
    return value != nullptr ? strtof(value, nullptr) : -1.0f;
}

void CameraParameters::remove(const char* key) {
    if (key != nullptr) {
        mMap.removeItem(String8(key));
    }
}

void CameraParameters::setPreviewSize(int width, int height) {
    char text[32];
    snprintf(text, sizeof(text), "%dx%d", width, height);
    set(KEY_PREVIEW_SIZE, text);
}

void CameraParameters::getPreviewSize(int* width, int* height) const {
    getSize(*this, KEY_PREVIEW_SIZE, width, height);
}

void CameraParameters::getSupportedPreviewSizes(std::vector<Size>& sizes) const {
    parseSizes(get(KEY_SUPPORTED_PREVIEW_SIZES), sizes);
}

void CameraParameters::setVideoSize(int width, int height) {
    char text[32];
    snprintf(text, sizeof(text), "%dx%d", width, height);
    set(KEY_VIDEO_SIZE, text);
}

void CameraParameters::getVideoSize(int* width, int* height) const {
    getSize(*this, KEY_VIDEO_SIZE, width, height);
}

void CameraParameters::getSupportedVideoSizes(std::vector<Size>& sizes) const {
    parseSizes(get(KEY_SUPPORTED_VIDEO_SIZES), sizes);
}

void CameraParameters::getPreferredPreviewSizeForVideo(int* width, int* height) const {
    getSize(*this, KEY_PREFERRED_PREVIEW_SIZE_FOR_VIDEO, width, height);
}

void CameraParameters::setPreviewFrameRate(int fps) {
    set(KEY_PREVIEW_FRAME_RATE, fps);
}

int CameraParameters::getPreviewFrameRate() const {
    return getInt(KEY_PREVIEW_FRAME_RATE);
}

void CameraParameters::getPreviewFpsRange(int* min_fps, int* max_fps) const {
    *min_fps = -1;
    *max_fps = -1;
    const char* value = get(KEY_PREVIEW_FPS_RANGE);
    if (value == nullptr) {
        return;
    }
    int lo = 0;
    int hi = 0;
    if (parsePair(value, &lo, &hi, ',') == 0) {
        *min_fps = lo;
        *max_fps = hi;
    }
}

void CameraParameters::setPreviewFormat(const char* format) {
    set(KEY_PREVIEW_FORMAT, format);
}

const char* CameraParameters::getPreviewFormat() const {
    return get(KEY_PREVIEW_FORMAT);
}

void CameraParameters::setPictureSize(int width, int height) {
    char text[32];
    snprintf(text, sizeof(text), "%dx%d", width, height);
    set(KEY_PICTURE_SIZE, text);
}

void CameraParameters::getPictureSize(int* width, int* height) const {
    getSize(*this, KEY_PICTURE_SIZE, width, height);
}

void CameraParameters::getSupportedPictureSizes(std::vector<Size>& sizes) const {
    parseSizes(get(KEY_SUPPORTED_PICTURE_SIZES), sizes);
}

void CameraParameters::setPictureFormat(const char* format) {
    set(KEY_PICTURE_FORMAT, format);
}

const char* CameraParameters::getPictureFormat() const {
    return get(KEY_PICTURE_FORMAT);
}

void CameraParameters::dump() const {
    ALOGD("dump: mMap.size = %zu", mMap.size());
    for (size_t i = 0; i < mMap.size(); ++i) {
        ALOGD("%s: %s", mMap.keyAt(i).string(), mMap.valueAt(i).string());
    }
}

}  // namespace android
