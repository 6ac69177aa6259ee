// Still pictures: the EXIF rewrite of a 5-megapixel JPEG (load, new EXIF data, thumbnail,
// write) against a memcpy of the same file; and the latency of a capture through the device,
// from take_picture to the compressed image, next to its parts measured on their own: the
// host fetch of picture and thumbnail, and the EXIF rewrite of that picture.

#include <string.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include <SkStream.h>
#include <YuvToJpegEncoder.h>
#include <camera/CameraParameters.h>
#include <jhead.h>
#include <system/graphics.h>
#include <vemo/log_hook.h>

#include "Exif.h"
#include "RatioReporter.h"
#include "RemoteCamera.h"
#include "service/CallbackRecorder.h"
#include "service/CameraDevice.h"
#include "service/CameraService.h"
#include "service/PreviewWindow.h"
#include "support/GuestHost.h"

namespace {

std::vector<uint8_t> encodeJpeg(int width, int height) {
    std::vector<uint8_t> nv21(static_cast<size_t>(width) * height * 3 / 2);
    for (size_t i = 0; i < nv21.size(); ++i) {
        nv21[i] = static_cast<uint8_t>((i * 7) ^ (i >> 9));
    }
    int strides[2] = {width, width};
    int offsets[2] = {0, width * height};
    std::unique_ptr<YuvToJpegEncoder> encoder(
        YuvToJpegEncoder::create(HAL_PIXEL_FORMAT_YCrCb_420_SP, strides));
    SkDynamicMemoryWStream stream;
    encoder->encode(&stream, nv21.data(), width, height, offsets, 90);
    return std::vector<uint8_t>(stream.data(), stream.data() + stream.bytesWritten());
}

std::vector<uint8_t> gPicture;
std::vector<uint8_t> gThumbnail;

android::CameraParameters gpsParameters() {
    android::CameraParameters params;
    params.set(android::CameraParameters::KEY_ROTATION, "90");
    params.set(android::CameraParameters::KEY_GPS_LATITUDE, "37.422");
    params.set(android::CameraParameters::KEY_GPS_LONGITUDE, "-122.084");
    params.set(android::CameraParameters::KEY_GPS_ALTITUDE, "21");
    params.set(android::CameraParameters::KEY_GPS_TIMESTAMP, "1796565909");
    params.set(android::CameraParameters::KEY_GPS_PROCESSING_METHOD, "GPS");
    return params;
}

// What the capture step does with the host's files.
bool rewrite(const std::vector<uint8_t>& picture, const std::vector<uint8_t>& thumbnail,
             std::vector<uint8_t>* block, android::ExifTable* table,
             const android::CameraParameters& params) {
    ResetJpgfile();
    if (ReadJpegSectionsFromBuffer(const_cast<uint8_t*>(picture.data()),
                                   static_cast<unsigned>(picture.size()), READ_IMAGE) == 0) {
        return false;
    }
    table->build(params, time(nullptr));
    create_EXIF(table->elements(), table->tagCount(), table->gpsCount(), 1);
    ReplaceThumbnailFromBuffer(reinterpret_cast<const char*>(thumbnail.data()),
                               static_cast<int>(thumbnail.size()));
    return WriteJpegToBuffer(block->data(), static_cast<unsigned>(block->size())) != 0;
}

void BM_ExifRewrite(benchmark::State& state) {
    std::vector<uint8_t> block(gPicture.size() + gThumbnail.size() + 1024);
    android::ExifTable table;
    const android::CameraParameters params = gpsParameters();
    for (auto _ : state) {
        if (!rewrite(gPicture, gThumbnail, &block, &table, params)) {
            state.SkipWithError("the rewrite failed");
            break;
        }
        benchmark::DoNotOptimize(block.data());
    }
}

void BM_FileCopy(benchmark::State& state) {
    std::vector<uint8_t> block(gPicture.size() + gThumbnail.size() + 1024);
    for (auto _ : state) {
        memcpy(block.data(), gPicture.data(), gPicture.size());
        benchmark::DoNotOptimize(block.data());
    }
}

double millisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// When the capture step logged that it has the host's files ("len and thumb len ...").
std::atomic<int64_t> gFetched{0};

int64_t nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void quiet(int, const char*, const char* message, void*) {
    if (strncmp(message, "len and thumb len", 17) == 0) {
        gFetched = nowMicros();
    }
}

// Capture latency, and its parts measured apart, averaged over a few pictures.
int captureLatency() {
    vemo::test::GuestHost host(VEMO_HOSTD_PATH, false);
    if (!host.start({"--quiet"})) {
        fprintf(stderr, "bench: %s\n", host.error().c_str());
        return 1;
    }
    std::string error;
    std::unique_ptr<vemo::guest::CameraService> service =
        vemo::guest::CameraService::load(VEMO_CAMERA_MODULE_PATH, &error);
    std::unique_ptr<vemo::guest::CameraDevice> device;
    if (!service || service->open("0", &device) != 0) {
        fprintf(stderr, "bench: the camera can't be opened (%s)\n", error.c_str());
        return 1;
    }
    const int kPictures = 10;
    vemo::guest::CallbackRecorder callbacks;
    callbacks.setKeepData(false);
    callbacks.install(*device);
    vemo::guest::PreviewWindow window;
    device->enableMsgType(CAMERA_MSG_COMPRESSED_IMAGE);
    device->setPreviewWindow(window.ops());
    double total = 0;
    double untilFetched = 0;
    for (int i = 0; i < kPictures; ++i) {
        device->startPreview();
        window.waitForEnqueued(window.enqueued() + 2, std::chrono::seconds(5));
        const int64_t start = nowMicros();
        device->takePicture();
        callbacks.waitFor(CAMERA_MSG_COMPRESSED_IMAGE, static_cast<size_t>(i + 1),
                          std::chrono::seconds(10));
        const int64_t end = nowMicros();
        total += (end - start) / 1000.0;
        untilFetched += (gFetched - start) / 1000.0;
    }
    device->setPreviewWindow(nullptr);
    device->close();

    // The host's part: the same two fetches through a proxy of their own.
    android::CRemoteCamera camera;
    camera.setCameraIx(0);
    double fetch = 0;
    std::vector<uint8_t> picture;
    std::vector<uint8_t> thumbnail;
    for (int i = 0; i < kPictures; ++i) {
        unsigned long size = 0;
        unsigned long lo = 0;
        unsigned long hi = 0;
        const auto start = std::chrono::steady_clock::now();
        camera.captureFrame(0);
        unsigned char* p = camera.getPhotoFrameContents(0, &size, &lo, &hi);
        picture.assign(p, p + size);
        delete[] p;
        unsigned char* t = camera.getThumbnailContents(0, &size, &lo, &hi);
        thumbnail.assign(t, t + size);
        delete[] t;
        fetch += millisSince(start);
    }
    std::vector<uint8_t> block(picture.size() + thumbnail.size() + 1024);
    android::ExifTable table;
    const android::CameraParameters params = gpsParameters();
    double exif = 0;
    for (int i = 0; i < kPictures; ++i) {
        const auto start = std::chrono::steady_clock::now();
        rewrite(picture, thumbnail, &block, &table, params);
        exif += millisSince(start);
    }
    const double t = total / kPictures;
    const double inside = untilFetched / kPictures;
    printf("capture latency, take_picture to compressed image (1280x720 picture): %.2f ms\n", t);
    printf(
        "  until the step has the host's files: %.2f ms (the pass under way, the step's\n"
        "    50 ms shutter pause, the host fetch)\n",
        inside);
    printf("  then EXIF rewrite and delivery: %.2f ms\n", t - inside);
    printf("measured apart: host fetch of picture and thumbnail %.2f ms, EXIF rewrite %.3f ms\n",
           fetch / kPictures, exif / kPictures);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vemo_log_set_hook(quiet, nullptr, 1);
    gPicture = encodeJpeg(2592, 1944);
    gThumbnail = encodeJpeg(160, 120);
    benchmark::RegisterBenchmark("ExifRewrite5MP", BM_ExifRewrite)->MinTime(2.0);
    benchmark::RegisterBenchmark("FileCopy5MP", BM_FileCopy)->MinTime(2.0);
    vemo::bench::RatioReporter reporter;
    reporter.addRatio("EXIF rewrite of a 5 MP JPEG / memcpy of the file", "ExifRewrite5MP",
                      "FileCopy5MP");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return captureLatency();
}
