// The recording step: one video frame to the client, as a copy or as a record naming a sample
// that the host keeps; and the release of such a record.

#include <stdint.h>
#include <string.h>

#include <log/log.h>
#include <utils/Timers.h>

#include "ByteOrder.h"
#include "VemoCamera.h"

namespace android {

namespace {

// The record of metadata mode: type (0), store, sample number low and high halves.
const size_t kRecordSize = 16;
const uint32_t kMetadataBufferTypeCameraSource = 0;

}  // namespace

void CVemoCamera::handleRecording() {
    camera_data_timestamp_callback callback = nullptr;
    camera_request_memory requestMemory = nullptr;
    void* cookie = nullptr;
    {
        std::lock_guard<std::mutex> guard(_lock);
        if ((_msg_enabled & CAMERA_MSG_VIDEO_FRAME) == 0) {
            return;
        }
        callback = _data_cb_timestamp;
        requestMemory = _request_memory;
        cookie = _cb_cookie;
    }
    if (callback == nullptr || requestMemory == nullptr) {
        return;
    }
    _pass_busy = true;

    if (_meta_data_in_buffers) {
        unsigned long store = 0;
        unsigned long long sample = 0;
        unsigned long long sampleTime = 0;
        const nsecs_t before = systemTime(SYSTEM_TIME_MONOTONIC);
        const int saved = _camera->saveFrameToSampleStore(&store, &sample, &sampleTime);
        const nsecs_t after = systemTime(SYSTEM_TIME_MONOTONIC);
        if (saved != 0) {
            // No sample was kept: there is nothing a record could name.
            return;
        }
        camera_memory_t* memory = requestBlock(requestMemory, kRecordSize);
        if (memory == nullptr) {
            ALOGE("Memory Failure");
            return;
        }
        unsigned char* record = static_cast<unsigned char*>(memory->data);
        storeU32(record, kMetadataBufferTypeCameraSource);
        storeU32(record + 4, static_cast<uint32_t>(store));
        storeU32(record + 8, static_cast<uint32_t>(sample));
        storeU32(record + 12, static_cast<uint32_t>(sample >> 32));
        const uint64_t span = static_cast<uint64_t>(after - before);
        const nsecs_t timestamp = before + static_cast<nsecs_t>(span / 2);
        callback(timestamp, CAMERA_MSG_VIDEO_FRAME, memory, 0, cookie);
        memory->release(memory);
        return;
    }

    unsigned long size = 0;
    unsigned long tsLow = 0;
    unsigned long tsHigh = 0;
    unsigned char* frame = _camera->getFrameContents(0, &size, &tsLow, &tsHigh);
    if (frame == nullptr || size == 0) {
        delete[] frame;
        return;
    }
    camera_memory_t* memory = requestBlock(requestMemory, size);
    if (memory == nullptr) {
        ALOGE("Memory failure");
        delete[] frame;
        return;
    }
    memcpy(memory->data, frame, size);
    const uint64_t micros = (static_cast<uint64_t>(tsHigh) << 32) + static_cast<uint32_t>(tsLow);
    callback(static_cast<nsecs_t>(micros * 1000u), CAMERA_MSG_VIDEO_FRAME, memory, 0, cookie);
    memory->release(memory);
    delete[] frame;
}

void CVemoCamera::releaseRecordingFrame(const void* opaque) {
    // In copy mode the client hands back a frame, not a record: there is no sample to release.
    if (opaque == nullptr || !_meta_data_in_buffers) {
        return;
    }
    const unsigned char* record = static_cast<const unsigned char*>(opaque);
    const uint32_t store = loadU32(record + 4);
    const uint32_t low = loadU32(record + 8);
    const uint64_t sample = (static_cast<uint64_t>(loadU32(record + 12)) << 32) | low;
    if (_camera->releaseOneFrame(store, sample) < 0) {
        ALOGE("Can't release a sample of store %d and num %d", static_cast<int>(store),
              static_cast<int>(low));
    }
}

}  // namespace android
