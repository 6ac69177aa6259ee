// The camera device through the module's entry point: opening and closing, the operations
// table, the message mask, the worker's life, the parameters and the power-status change.

#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include <cutils/properties.h>
#include <hardware/vemo_camera_module.h>
#include <vemo/thread_hook.h>

#include "DeviceFixture.h"

namespace vemo {
namespace test {

namespace {

class Device : public DeviceTest {
protected:
    // Client calls that take the device lock, rounds times 100 ms apart, each answered at once
    // whatever the worker is waiting for.
    void expectQuickClientCalls(int rounds) {
        for (int i = 0; i < rounds; ++i) {
            const auto start = std::chrono::steady_clock::now();
            _device->msgTypeEnabled(CAMERA_MSG_ALL_MSGS);
            std::string text;
            _device->getParameters(&text);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
            usleep(100000);
        }
    }

    void TearDown() override {
        property_set("com.vemo.power.status", "");
        DeviceTest::TearDown();
    }
};

}  // namespace

TEST_F(Device, EveryOperationWithoutItsObjectLogsAndGivesItsResult) {
    startHost();
    open();
    camera_device_t orphan = *_device->raw();
    orphan.priv = nullptr;
    camera_device_ops_t* ops = orphan.ops;
    _log.clear();
    camera_device_t* d = &orphan;
    EXPECT_EQ(ops->set_preview_window(d, nullptr), -22);
    ops->set_callbacks(d, nullptr, nullptr, nullptr, nullptr, nullptr);
    ops->enable_msg_type(d, 1);
    ops->disable_msg_type(d, 1);
    EXPECT_EQ(ops->msg_type_enabled(d, 1), -22);
    EXPECT_EQ(ops->start_preview(d), -22);
    ops->stop_preview(d);
    EXPECT_EQ(ops->preview_enabled(d), -22);
    EXPECT_EQ(ops->store_meta_data_in_buffers(d, 1), -22);
    EXPECT_EQ(ops->start_recording(d), -22);
    ops->stop_recording(d);
    EXPECT_EQ(ops->recording_enabled(d), -22);
    ops->release_recording_frame(d, nullptr);
    EXPECT_EQ(ops->auto_focus(d), -22);
    EXPECT_EQ(ops->cancel_auto_focus(d), -22);
    EXPECT_EQ(ops->take_picture(d), -22);
    EXPECT_EQ(ops->cancel_picture(d), -22);
    EXPECT_EQ(ops->set_parameters(d, "a=b"), -22);
    EXPECT_EQ(ops->get_parameters(d), nullptr);
    ops->put_parameters(d, nullptr);
    EXPECT_EQ(ops->send_command(d, 1, 0, 0), -22);
    ops->release(d);
    EXPECT_EQ(ops->dump(d, 1), -22);
    EXPECT_EQ(orphan.common.close(&orphan.common), -22);
    std::istringstream names(
        "setPreviewWindow setCallbacks enableMsgType disableMsgType msgTypeEnabled "
        "startPreview stopPreview previewEnabled storeMetaDataInBuffers startRecording "
        "stopRecording recordingEnabled releaseRecordingFrame autoFocus cancelAutoFocus "
        "takePicture cancelPicture setParameters getParameters putParameters sendCommand "
        "release dump");
    for (std::string name; names >> name;) {
        EXPECT_EQ(_log.count(name + ": Unexpected NULL camera device"), 1u) << name;
    }
    EXPECT_EQ(_log.messages().size(), 23u);
}

TEST_F(Device, OpenTakesTheIndexAsDecimalText) {
    startHost({"--cameras", "2"});
    struct Case {
        const char* id;
        int result;
        const char* selected;  // the setCameraIx the host saw, if any
    };
    const Case cases[] = {{"0", 0, "ix=0"},   {"1", 0, "ix=1"},    {"-1", 0, "ix=4294967295"},
                          {"abc", 0, "ix=0"}, {"2", -22, nullptr}, {nullptr, -22, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id != nullptr ? c.id : "NULL");
        const size_t before = countRequests("setCameraIx");
        hw_device_t* device = reinterpret_cast<hw_device_t*>(0x1);
        EXPECT_EQ(_service->openDevice(c.id, &device), c.result);
        if (c.result != 0) {
            EXPECT_EQ(device, reinterpret_cast<hw_device_t*>(0x1));
            EXPECT_EQ(countRequests("setCameraIx"), before);
            continue;
        }
        EXPECT_EQ(requestsOf({"setCameraIx"}).back(),
                  std::string("__function=setCameraIx ") + c.selected);
        camera_device_t* camera = reinterpret_cast<camera_device_t*>(device);
        EXPECT_EQ(device->tag, HARDWARE_DEVICE_TAG);
        EXPECT_EQ(device->version, CAMERA_DEVICE_API_VERSION_1_0);
        EXPECT_EQ(device->module, &_service->module());
        EXPECT_NE(camera->priv, nullptr);
        EXPECT_NE(camera->priv, static_cast<void*>(camera));
        EXPECT_EQ(device->close(device), 0);
    }
    EXPECT_TRUE(_log.contains("ERR"));
    EXPECT_EQ(_log.count("<<< close"), 4u);

    // The stand-in's numeric open goes the same way, as decimal text.
    ASSERT_EQ(_service->open(1, &_device), 0);
    EXPECT_EQ(requestsOf({"setCameraIx"}).back(), "__function=setCameraIx ix=1");
}

TEST_F(Device, OpenFailsWhenTheHostCameraCantBeReached) {
    startHost({"--fault", "refuse"});
    hw_device_t* device = nullptr;
    EXPECT_NE(_service->openDevice("0", &device), 0);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(workerThreads(), 0);
}

// A host that takes connections and never answers is given up after 10 s of silence, as one
// that can't be reached: the camera count is 0.
TEST_F(Device, AStalledHostFailsAQueryInAboutTenSeconds) {
    // The host's own limit on a connection that never makes an instance is set past the
    // module's, so that the module is the one that gives up.
    startHost({"--fault", "stall", "--idle-limit", "60"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(_service->getNumberOfCameras(), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::seconds(8));
    EXPECT_LE(took, std::chrono::seconds(20));
    EXPECT_TRUE(_log.contains("readFully: The host sent nothing for 10 s"));
    EXPECT_TRUE(_log.contains("Remote Camera object init failed"));
}

TEST_F(Device, MessageMaskAnswersWithTheEnabledBits) {
    startHost();
    open();
    _device->enableMsgType(CAMERA_MSG_FOCUS | CAMERA_MSG_PREVIEW_FRAME);
    _device->disableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    EXPECT_EQ(_device->msgTypeEnabled(CAMERA_MSG_FOCUS | CAMERA_MSG_SHUTTER), CAMERA_MSG_FOCUS);
    EXPECT_EQ(_device->msgTypeEnabled(CAMERA_MSG_PREVIEW_FRAME), 0);
    EXPECT_EQ(_device->storeMetaDataInBuffers(2), 0);
    EXPECT_EQ(_device->sendCommand(CAMERA_CMD_START_FACE_DETECTION, 0, 0), -22);
    EXPECT_EQ(_device->sendCommand(CAMERA_CMD_STOP_FACE_DETECTION, 0, 0), -22);
    EXPECT_EQ(_device->sendCommand(CAMERA_CMD_START_SMOOTH_ZOOM, 0, 0), 0);
    EXPECT_EQ(_device->dump(1), 0);
    EXPECT_EQ(_device->cancelPicture(), 0);
}

TEST_F(Device, DefaultsAndTheHostsSizes) {
    startHost({"--camera", "0:preview-sizes=1920x1080/1280x720/640x480,preferred=1280x720"});
    open();
    // The parameter text of a camera with the host's sizes, sorted by key.
    EXPECT_EQ(parameters(),
              tools::parseParameters(
                  "exposure-compensation=0;exposure-compensation-step=0.5;flash-mode=off;"
                  "flash-mode-values=off;focal-length=4.31;focus-distances=0.20,0.25,Infinity;"
                  "focus-mode=fixed;focus-mode-values=fixed;horizontal-view-angle=54.8;"
                  "jpeg-quality=90;jpeg-thumbnail-height=75;jpeg-thumbnail-quality=90;"
                  "jpeg-thumbnail-size-values=75x75,0x0;jpeg-thumbnail-width=75;"
                  "max-exposure-compensation=6;min-exposure-compensation=-6;picture-format=jpeg;"
                  "picture-format-values=jpeg;picture-size=1280x720;"
                  "picture-size-values=1920x1080,1280x720,640x480;"
                  "preferred-preview-size-for-video=1280x720;preview-format=yuv420sp;"
                  "preview-format-values=yuv420sp,yuv420p,yuv422i-yuyv;"
                  "preview-fps-range=500,30000;preview-fps-range-values=(500,30000);"
                  "preview-frame-rate=24;preview-frame-rate-values=30,24,20,15,10,5;"
                  "preview-size=1280x720;preview-size-values=1920x1080,1280x720,640x480;"
                  "prop-exif-make=vemo;prop-exif-model=vemo;prop-facing=front;prop-orientation=0;"
                  "vertical-view-angle=42.5;video-frame-format=yuv420p;video-size=1280x720;"
                  "video-size-values=1280x720,640x480;whitebalance=auto;"
                  "whitebalance-values=auto,incandescent,daylight,twilight"));
    EXPECT_TRUE(_log.contains("Supported PS - 3, 1920x1080,1280x720,640x480"));
    // What the device told the host while it opened.
    EXPECT_EQ(requestsOf({"setPreviewFormat", "setPreviewSize", "setPictureSize"}),
              (Lines{"__function=setPreviewFormat format=yuv420sp",
                     "__function=setPreviewSize size=1280x720",
                     "__function=setPictureSize size=1280x720"}));
}

TEST_F(Device, UnsupportedFeaturesKeepTheirCurrentValueSupported) {
    startHost({"--camera", "0:white-balance=0,auto-focus=0,exposure=0"});
    open();
    std::map<std::string, std::string> values = parameters();
    EXPECT_EQ(values["whitebalance"], "auto");
    EXPECT_EQ(values["whitebalance-values"], "auto");
    EXPECT_EQ(values["focus-mode"], "fixed");
    EXPECT_EQ(values["focus-mode-values"], "fixed");
    EXPECT_EQ(values["max-exposure-compensation"], "");
    EXPECT_EQ(values["min-exposure-compensation"], "");
    EXPECT_EQ(values["exposure-compensation-step"], "0");
    // With the bounds off, any exposure asked for is ignored; a camera without white balance
    // is never asked about it, whatever list the client sends back.
    EXPECT_EQ(setParameters({{"exposure-compensation", "3"}}), 0);
    EXPECT_EQ(setParameters(
                  {{"whitebalance", "incandescent"}, {"whitebalance-values", "auto,incandescent"}}),
              0);
    startPreview(2);
    _device->stopPreview();
    EXPECT_EQ(countRequests("setExposureCompensation"), 0u);
    EXPECT_EQ(countRequests("getWhiteBalanceMode"), 0u);
    EXPECT_EQ(countRequests("setWhiteBalanceMode"), 0u);
}

TEST_F(Device, SetParametersValidatesAndTheWorkerPushesTheChangesInOrder) {
    startHost();
    open();
    // Steps before a refusal take effect: the clamped exposure stays pending.
    EXPECT_EQ(setParameters({{"exposure-compensation", "9"}, {"flash-mode", "invalid"}}), -22);
    EXPECT_TRUE(_log.contains("Setting new exposure value to 6  6"));
    EXPECT_TRUE(_log.contains("new exposure to set 6"));
    EXPECT_EQ(parameters()["exposure-compensation"], "0");
    EXPECT_EQ(setParameters({{"focus-mode", "invalid"}}), -22);
    EXPECT_EQ(setParameters({{"preview-fps-range", "30000,500"}}), -22);
    EXPECT_EQ(setParameters({{"preview-fps-range", "15000,15000"}}), 0);
    EXPECT_EQ(setParameters({{"preview-fps-range", "-1,30000"}}), 0);
    EXPECT_EQ(setParameters({{"whitebalance", "incandescent"},
                             {"preview-size", "640x480"},
                             {"picture-size", "640x480"},
                             {"video-size", "640x480"},
                             {"preview-format", "yuv420p"},
                             {"video-frame-format", "yuv420sp"}}),
              0);
    EXPECT_EQ(parameters()["preview-size"], "640x480");

    startPreview(2);
    EXPECT_TRUE(eventually([&] { return countRequests("setVideoSize") >= 1; }));
    // The host's preferred size goes out whatever the client asked for.
    EXPECT_EQ(
        requestsOf({"setExposureCompensation", "setWhiteBalanceMode", "setPreviewSize",
                    "setPictureSize", "setPreviewFormat", "setPictureFormat", "setVideoFormat",
                    "setVideoSize"}),
        (Lines{
            "__function=setPreviewFormat format=yuv420sp",
            "__function=setPreviewSize size=1280x720", "__function=setPictureSize size=1280x720",
            "__function=setExposureCompensation exposurevalue=6 id=0",
            "__function=setWhiteBalanceMode id=0 mode=3000",
            "__function=setPreviewSize size=1280x720", "__function=setPictureSize size=1280x720",
            "__function=setPreviewFormat format=yuv420p", "__function=setPictureFormat format=jpeg",
            "__function=setVideoFormat format=yuv420sp", "__function=setVideoSize size=640x480"}));
}

TEST_F(Device, WhiteBalanceComparesWithTheHostsCurrentMode) {
    startHost();
    open();
    startPreview(2);
    EXPECT_EQ(setParameters({{"whitebalance", "incandescent"}}), 0);
    EXPECT_TRUE(eventually([&] { return countRequests("setWhiteBalanceMode") == 1; }));
    // Twilight is in the list but has no temperature: the change is pushed with the pending
    // value, which stays 3000.
    EXPECT_EQ(setParameters({{"whitebalance", "twilight"}}), 0);
    EXPECT_TRUE(eventually([&] { return countRequests("setWhiteBalanceMode") == 2; }));
    EXPECT_EQ(requestsOf({"setWhiteBalanceMode"}).back(),
              "__function=setWhiteBalanceMode id=0 mode=3000");
    // A name that is not in the list is ignored.
    EXPECT_EQ(setParameters({{"whitebalance", "shade"}}), 0);
    // "auto" while the host's mode reads as incandescent: pushed as 0.
    EXPECT_EQ(setParameters({{"whitebalance", "auto"}}), 0);
    EXPECT_TRUE(eventually([&] { return countRequests("setWhiteBalanceMode") == 3; }));
    EXPECT_EQ(requestsOf({"setWhiteBalanceMode"}).back(),
              "__function=setWhiteBalanceMode id=0 mode=0");
    EXPECT_TRUE(_log.contains("Setting white balance to auto"));
}

TEST_F(Device, GetParametersHandsOutACopyThatPutParametersFrees) {
    startHost();
    open();
    char* first = _device->ops()->get_parameters(_device->raw());
    char* second = _device->ops()->get_parameters(_device->raw());
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_STREQ(first, second);
    EXPECT_TRUE(_log.contains(std::string("params - ") + first));
    _device->ops()->put_parameters(_device->raw(), first);
    _device->ops()->put_parameters(_device->raw(), second);
    _device->ops()->put_parameters(_device->raw(), nullptr);
}

TEST_F(Device, TheWorkerRunsWhileAnythingIsRequested) {
    startHost();
    open();
    EXPECT_EQ(workerThreads(), 0);
    startPreview(2);
    EXPECT_EQ(workerThreads(), 1);
    EXPECT_EQ(_device->startPreview(), 0);
    EXPECT_TRUE(_log.contains("Request to Start preview while already previewing"));
    EXPECT_EQ(_device->startRecording(), 0);
    EXPECT_EQ(_device->startRecording(), 0);
    EXPECT_EQ(workerThreads(), 1);
    _device->stopPreview();
    EXPECT_EQ(_device->previewEnabled(), 0);
    EXPECT_EQ(workerThreads(), 1);  // still recording
    _device->stopRecording();
    // The loop has ended when the call returns; the thread is gone a moment later.
    EXPECT_TRUE(eventually([] { return workerThreads() == 0; }));
    EXPECT_TRUE(_log.contains("Exiting thread loop"));
    _device->release();
    _device->release();
    EXPECT_EQ(_log.count(">>> release"), 2u);
}

TEST_F(Device, AThreadThatCantBeCreatedIsReportedAndLeavesNothingRunning) {
    startHost();
    open();
    ASSERT_EQ(_device->setPreviewWindow(_window.ops()), 0);
    vemo_thread_fail_next(1);
    EXPECT_NE(_device->startPreview(), 0);
    EXPECT_EQ(_device->previewEnabled(), 0);
    EXPECT_TRUE(_log.contains("Unable to create the worker thread"));
    // Nothing waits for a thread that never ran, and the next start works.
    _device->stopPreview();
    EXPECT_EQ(_device->startPreview(), 0);
    EXPECT_TRUE(_window.waitForEnqueued(1, std::chrono::seconds(5)));
}

TEST_F(Device, CallbacksMayStopTheCameraFromTheWorkerThread) {
    startHost();
    open();
    std::atomic<int> stops{0};
    _callbacks.setHook([&](const guest::CameraEvent& event) {
        if (event.message == CAMERA_MSG_PREVIEW_FRAME && stops++ == 0) {
            _device->stopPreview();
            _device->release();
        }
    });
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    startPreview();
    EXPECT_TRUE(eventually([&] { return stops.load() == 1; }));
    EXPECT_TRUE(eventually([] { return workerThreads() == 0; }));
    EXPECT_EQ(stops.load(), 1);
    EXPECT_EQ(_device->previewEnabled(), 0);
}

TEST_F(Device, AStartFromACallbackKeepsTheWorkerThatWasAskedToStop) {
    startHost();
    open();
    std::atomic<int> restarts{0};
    _callbacks.setHook([&](const guest::CameraEvent& event) {
        if (event.message == CAMERA_MSG_PREVIEW_FRAME && restarts++ == 0) {
            _device->stopPreview();
            _device->startPreview();
        }
    });
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    startPreview(2);
    const uint64_t shown = _window.enqueued();
    EXPECT_TRUE(_window.waitForEnqueued(shown + 10, std::chrono::seconds(5)));
    EXPECT_EQ(_device->previewEnabled(), 1);
    EXPECT_EQ(workerThreads(), 1);
    _device->stopPreview();
}

TEST_F(Device, CloseFromACallbackIsRefused) {
    startHost();
    open();
    std::atomic<int> result{1};
    _callbacks.setHook([&](const guest::CameraEvent& event) {
        if (event.message == CAMERA_MSG_PREVIEW_FRAME && result == 1) {
            result = _device->raw()->common.close(&_device->raw()->common);
        }
    });
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    startPreview(2);
    EXPECT_TRUE(eventually([&] { return result != 1; }));
    EXPECT_EQ(result.load(), -22);
    EXPECT_TRUE(_log.contains("close: Called on the camera's own worker thread; refused"));
    _device->stopPreview();
}

TEST_F(Device, APreviewSizeNoFrameCanHaveIsLoggedNotComputed) {
    startHost();
    open();
    EXPECT_EQ(setParameters({{"preview-size", "100000x100000"}}), 0);
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    startPreview(2);
    EXPECT_TRUE(
        eventually([&] { return _log.contains("Preview size 100000x100000 has no frame"); }));
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_PREVIEW_FRAME), 0u);
    _device->stopPreview();
}

// A paced host makes every capture wait for the next picture; the client's calls must not
// wait with it.
TEST_F(Device, ClientCallsDontWaitForTheHostsFramePace) {
    _host.process().setPaced(true);
    startHost({"--camera", "0:fps=2"});
    open();
    startPreview(2);
    // setParameters asks the host too, and waits for its turn; the others don't wait for it.
    std::thread setter([&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(setParameters({{"whitebalance", "daylight"}}), 0);
        }
    });
    expectQuickClientCalls(5);
    setter.join();
    // Taking the window away waits for the step that uses it, at most one picture.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(_device->setPreviewWindow(nullptr), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

// A window whose buffers come slowly holds up the preview, not the client's calls.
TEST_F(Device, ClientCallsDontWaitForASlowWindow) {
    startHost();
    open();
    startPreview(2);
    _window.setDequeueDelay(std::chrono::milliseconds(400));
    usleep(50000);
    expectQuickClientCalls(3);
    _window.setDequeueDelay(std::chrono::milliseconds(0));
    _device->stopPreview();
}

TEST_F(Device, FocusIsNotifiedOnEveryPassUntilCancelled) {
    startHost();
    open();
    _device->enableMsgType(CAMERA_MSG_FOCUS);
    startPreview(2);
    EXPECT_EQ(_device->autoFocus(), 0);
    EXPECT_TRUE(_callbacks.waitFor(CAMERA_MSG_FOCUS, 5, std::chrono::seconds(5)));
    guest::CameraEvent focus;
    ASSERT_TRUE(_callbacks.last(CAMERA_MSG_FOCUS, &focus));
    EXPECT_EQ(focus.ext1, 1);
    EXPECT_EQ(focus.ext2, 0);
    EXPECT_EQ(_device->cancelAutoFocus(), 0);
    usleep(50000);
    const size_t after = _callbacks.count(CAMERA_MSG_FOCUS);
    usleep(100000);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_FOCUS), after);
}

TEST_F(Device, PowerStatusChangeClosesTheHostConnectionForGood) {
    property_set("com.vemo.power.status", "0");
    startHost();
    open();
    startPreview(2);
    property_set("com.vemo.power.status", "1");
    ASSERT_TRUE(eventually([] { return workerThreads() == 0; }));
    EXPECT_TRUE(_log.contains("android going to sleep closing camera"));
    // The camera's proxy closed as it does when it goes (the connected calls' test).
    EXPECT_EQ(_host.requests().back(), "__function=__deleteThis");
    EXPECT_EQ(_host.recordOf({"hgcm"}).back().rfind("hgcm disconnect client=", 0), 0u);
    // Every operation still answers, without a host.
    const size_t requests = _host.requests().size();
    EXPECT_EQ(setParameters({{"whitebalance", "daylight"}}), 0);
    unsigned char record[16] = {0};
    _device->storeMetaDataInBuffers(1);
    _device->releaseRecordingFrame(record);
    EXPECT_EQ(_device->takePicture(), 0);
    // A later start runs the worker again, with the new status.
    EXPECT_EQ(_device->startPreview(), 0);
    EXPECT_TRUE(eventually([] { return workerThreads() == 1; }));
    _device->stopPreview();
    EXPECT_EQ(_host.requests().size(), requests);
}

// The camera service's threads call in while the worker runs (the thread sanitizer watches).
TEST_F(Device, ClientThreadsAndTheWorkerShareTheDevice) {
    startHost();
    open();
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME | CAMERA_MSG_VIDEO_FRAME);
    _callbacks.setKeepData(false);
    startPreview(2);
    ASSERT_EQ(_device->startRecording(), 0);
    std::vector<std::thread> clients;
    for (int t = 0; t < 3; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                std::string text;
                _device->getParameters(&text);
                _device->setParameters(text.c_str());
                _device->enableMsgType(CAMERA_MSG_FOCUS);
                _device->disableMsgType(CAMERA_MSG_FOCUS);
                _device->msgTypeEnabled(CAMERA_MSG_ALL_MSGS);
                _device->previewEnabled();
                if (t == 0) {
                    _device->autoFocus();
                }
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    _device->stopRecording();
    _device->stopPreview();
    EXPECT_TRUE(eventually([] { return workerThreads() == 0; }));
}

TEST_F(Device, AnIdleWorkerDoesNotSpin) {
    startHost({"--fault", "busy"});
    open();
    ASSERT_EQ(_device->setPreviewWindow(_window.ops()), 0);
    // The host is busy: preview doesn't start, but the worker runs without work.
    EXPECT_EQ(_device->startPreview(), 0);
    EXPECT_EQ(_device->previewEnabled(), 0);
    EXPECT_TRUE(eventually([] { return workerThreads() == 1; }));
    timespec before;
    timespec after;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    usleep(500000);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    const double cpu = (after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_LT(cpu, 0.1) << "CPU seconds used in half a second of idling";
    // A request still takes effect at once.
    _device->enableMsgType(CAMERA_MSG_FOCUS);
    _device->autoFocus();
    _device->stopPreview();
}

}  // namespace test
}  // namespace vemo
