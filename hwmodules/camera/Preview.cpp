// The preview step: one host frame into the preview window, and a copy for the client when it
// asked for preview frames.

#include <stdint.h>
#include <string.h>

#include <log/log.h>

#include "VemoCamera.h"

namespace android {

namespace {

// Words of the window buffer's handle that carry the geometry to the allocator and the host
// buffer identifier from it.
const int kWordGeometry = 15;
const int kWordWidth = 17;
const int kWordHeight = 18;
const int kWordHostBuffer = 19;

// Bytes of the first preview callback, which carries a white frame; -1 for a format without
// one. The size comes from the client's parameters: it is worked out wide, and a size that no
// frame can have gives 0.
int64_t fillerSize(const char* format, int width, int height) {
    const int64_t pixels = static_cast<int64_t>(width) * height;
    int64_t size = -1;
    if (format != nullptr && strcmp(format, CameraParameters::PIXEL_FORMAT_YUV422I) == 0) {
        size = pixels * 2;
    } else if (format != nullptr && (strcmp(format, CameraParameters::PIXEL_FORMAT_YUV420SP) == 0 ||
                                     strcmp(format, CameraParameters::PIXEL_FORMAT_YUV420P) == 0)) {
        size = pixels * 3 / 2;
    }
    if (size < -1 || size > INT32_MAX || (size != -1 && (width <= 0 || height <= 0))) {
        return 0;
    }
    return size;
}

}  // namespace

void CVemoCamera::handlePreview() {
    // From dequeue to enqueue the window is marked busy: setPreviewWindow waits for it, so the
    // camera service can't take it away in between. The window calls and the host calls run
    // without _lock, so that the client's calls wait neither for the window nor for the host's
    // frame pace.
    std::unique_lock<std::mutex> lock(_lock);
    if (_window_changes != 0) {
        // The camera service is replacing the window: the next pass uses the new one.
        return;
    }
    preview_stream_ops* window = _preview_ops;
    if (window == nullptr) {
        lock.unlock();
        ALOGE("_preview_ops is NULL");
        return;
    }
    _window_busy = true;
    const int32_t windowWidth = _preview_width;
    const int32_t windowHeight = _preview_height;
    lock.unlock();

    buffer_handle_t* buffer = nullptr;
    int stride = 0;
    const bool dequeued =
        window->dequeue_buffer(window, &buffer, &stride) == 0 && buffer != nullptr;
    // A handle of another allocator has no room for the words the host needs.
    const bool usable = dequeued && *buffer != nullptr &&
                        (*buffer)->numFds + (*buffer)->numInts + 3 > kWordHostBuffer;
    if (usable) {
        int* words = reinterpret_cast<int*>(const_cast<native_handle_t*>(*buffer));
        words[kWordGeometry] = 0;
        words[kWordGeometry + 1] = 0;
        words[kWordWidth] = windowWidth;
        words[kWordHeight] = windowHeight;
        const unsigned long hostBuffer = static_cast<unsigned int>(words[kWordHostBuffer]);
        _camera->captureFrame(0);
        _camera->updateFrameToCB(0, hostBuffer);
        window->enqueue_buffer(window, buffer);
    } else if (dequeued) {
        window->cancel_buffer(window, buffer);
    }

    lock.lock();
    _window_busy = false;
    _window_idle.notify_all();
    if (!usable) {
        _previewing = false;
        lock.unlock();
        if (dequeued) {
            ALOGE("%s: Window buffer handle has no host buffer - Stopping preview",
                  "handlePreview");
        } else {
            ALOGE("%s: Unable to dequeue buffer - Stopping preview", "handlePreview");
        }
        return;
    }
    _pass_busy = true;

    if ((_msg_enabled & CAMERA_MSG_PREVIEW_FRAME) == 0) {
        return;
    }
    camera_data_callback dataCallback = _data_cb;
    camera_request_memory requestMemory = _request_memory;
    void* cookie = _cb_cookie;
    int width = 0;
    int height = 0;
    _params.getPreviewSize(&width, &height);
    const char* format = _params.getPreviewFormat();
    // Read once: a startPreview on another thread may raise it again at any time.
    const bool filler = _first_preview_frame;
    const int64_t fillerBytes = filler ? fillerSize(format, width, height) : 0;
    lock.unlock();
    if (dataCallback == nullptr || requestMemory == nullptr) {
        return;
    }

    if (filler) {
        if (fillerBytes < 0) {
            ALOGE("Preview format not supported");
            return;
        }
        if (fillerBytes == 0) {
            ALOGE("%s: Preview size %dx%d has no frame", "handlePreview", width, height);
            return;
        }
        const size_t size = static_cast<size_t>(fillerBytes);
        camera_memory_t* memory = requestBlock(requestMemory, size);
        if (memory == nullptr) {
            ALOGE("Memory failure");
            _take_picture = false;
            return;
        }
        memset(memory->data, 0xFF, size);
        dataCallback(CAMERA_MSG_PREVIEW_FRAME, memory, 0, nullptr, cookie);
        memory->release(memory);
        _first_preview_frame = false;
        return;
    }

    unsigned long size = 0;
    unsigned long tsLow = 0;
    unsigned long tsHigh = 0;
    unsigned char* frame = _camera->getFrameContents(1, &size, &tsLow, &tsHigh);
    if (frame == nullptr) {
        return;
    }
    camera_memory_t* memory = requestBlock(requestMemory, size);
    if (memory == nullptr) {
        delete[] frame;
        ALOGE("Memory failure");
        _take_picture = false;
        return;
    }
    memcpy(memory->data, frame, size);
    dataCallback(CAMERA_MSG_PREVIEW_FRAME, memory, 0, nullptr, cookie);
    memory->release(memory);
    delete[] frame;
}

}  // namespace android
