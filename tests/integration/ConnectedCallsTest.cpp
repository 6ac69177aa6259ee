// The proxy of an open camera against vemo-hostd through the emulated guest driver: every
// call's entries as the host received them and the results read back, the connection's life
// at the host, a broken connection, and several threads sharing one proxy.

#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RemoteCamera.h"
#include "support/GuestHost.h"
#include "support/LogCapture.h"

using android::AString;
using android::CRemoteCamera;
using vemo::test::GuestHost;
using vemo::test::LogCapture;
using Lines = std::vector<std::string>;

namespace {

class ConnectedCalls : public ::testing::Test {
protected:
    void startHost(const std::vector<std::string>& args = {}) {
        ASSERT_TRUE(_host.start(args)) << _host.error();
    }

    std::unique_ptr<CRemoteCamera> bind(int ix = 0) {
        std::unique_ptr<CRemoteCamera> camera(new CRemoteCamera());
        EXPECT_EQ(camera->setCameraIx(ix), 0);
        return camera;
    }

    LogCapture _log;
    GuestHost _host{VEMO_HOSTD_PATH};
};

bool isJpeg(const unsigned char* data, unsigned long size) {
    return data != nullptr && size > 4 && data[0] == 0xFF && data[1] == 0xD8 &&
           data[size - 2] == 0xFF && data[size - 1] == 0xD9;
}

}  // namespace

TEST_F(ConnectedCalls, EveryCallCarriesItsEntriesAndReadsItsResults) {
    startHost();
    std::unique_ptr<CRemoteCamera> camera = bind(0);
    ASSERT_TRUE(camera->isConnected());

    EXPECT_EQ(camera->getNumPreviewSize(), 3);
    EXPECT_STREQ(camera->getPreviewSize(0).c_str(), "1920x1080");
    EXPECT_STREQ(camera->getPreferredPreviewSize().c_str(), "1280x720");
    EXPECT_STREQ(camera->getPictureSize(2).c_str(), "640x480");
    EXPECT_EQ(camera->getNumVideoSize(), 2);
    EXPECT_STREQ(camera->getVideoSize(1).c_str(), "640x480");
    camera->setPreviewSize("640x480");
    camera->setPictureSize("1280x720");
    camera->setVideoSize("640x480");
    camera->setPreviewFormat("yuv422i-yuyv");
    camera->setPictureFormat("jpeg");
    camera->setVideoFormat("yuv420p");
    camera->setPreviewFPS(24);
    EXPECT_EQ(camera->captureFrame(0), 0);
    camera->updateFrameToCB(0, 77);

    unsigned long size = 1;
    unsigned long low = 1;
    unsigned long high = 1;
    // YUYV preview: two bytes a pixel.
    unsigned char* preview = camera->getFrameContents(1, &size, &low, &high);
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(size, 640u * 480u * 2u);
    delete[] preview;
    // YV12 video: 640 is a multiple of 16, so the planes have no padding.
    unsigned char* video = camera->getPreviewContents(0, &size, &low, &high);
    ASSERT_NE(video, nullptr);
    delete[] video;
    video = camera->getFrameContents(0, &size, &low, &high);
    EXPECT_EQ(size, 640u * 480u * 3u / 2u);
    EXPECT_NE(low | high, 0u);
    delete[] video;
    unsigned char* photo = camera->getPhotoFrameContents(0, &size, &low, &high);
    EXPECT_TRUE(isJpeg(photo, size));
    delete[] photo;
    unsigned char* thumbnail = camera->getThumbnailContents(0, &size, &low, &high);
    EXPECT_TRUE(isJpeg(thumbnail, size));
    delete[] thumbnail;

    camera->setExposureCompensation(0, 2);
    camera->setWhiteBalanceMode(0, 3000);
    EXPECT_EQ(camera->getWhiteBalanceMode(0), 3000);
    EXPECT_EQ(camera->isWhiteBalanceSupported(0), 1);
    EXPECT_EQ(camera->isAutoFocusSupported(0), 0);
    EXPECT_EQ(camera->isExposureSupported(0), 1);

    // The host numbers a store's samples from store << 32 + 1: the second sample of store 1
    // joins a high half of 1 and a low half of 2.
    unsigned long store = 0;
    unsigned long long first = 0;
    unsigned long long second = 0;
    unsigned long long stamp = 0;
    ASSERT_EQ(camera->saveFrameToSampleStore(&store, &first, &stamp), 0);
    ASSERT_EQ(camera->saveFrameToSampleStore(&store, &second, &stamp), 0);
    EXPECT_EQ(store, 1u);
    EXPECT_EQ(first, 4294967297ull);
    EXPECT_EQ(second, 4294967298ull);
    EXPECT_NE(stamp, 0u);
    EXPECT_EQ(camera->releaseOneFrame(store, second), 0);
    EXPECT_LT(camera->releaseOneFrame(store, second), 0);

    EXPECT_EQ(
        _host.requests(),
        (Lines{"__function=__initThis __remote_class=CameraDevice",
               "__function=setCameraIx ix=0",
               "__function=getNumPreviewSize",
               "__function=getPreviewSize ix=0",
               "__function=getPreferredPreviewSize",
               "__function=getPictureSize ix=2",
               "__function=getNumVideoSize",
               "__function=getVideoSize ix=1",
               "__function=setPreviewSize size=640x480",
               "__function=setPictureSize size=1280x720",
               "__function=setVideoSize size=640x480",
               "__function=setPreviewFormat format=yuv422i-yuyv",
               "__function=setPictureFormat format=jpeg",
               "__function=setVideoFormat format=yuv420p",
               "__function=setPreviewFPS fps=24",
               "__function=captureFrame id=0",
               "__function=updateFrameToCB cb=77 frame_id=0",
               "__function=getFrameContents id=1",
               "__function=getPreviewContents id=0",
               "__function=getFrameContents id=0",
               "__function=getPhotoFrameContents id=0",
               "__function=getThumbnailContents id=0",
               "__function=setExposureCompensation exposurevalue=2 id=0",
               "__function=setWhiteBalanceMode id=0 mode=3000",
               "__function=getWhiteBalanceMode id=0",
               "__function=isWhiteBalanceSupported id=0",
               "__function=isAutoFocusSupported id=0",
               "__function=isExposureSupported id=0",
               "__function=saveFrameToSampleStore",
               "__function=saveFrameToSampleStore",
               "__function=releaseOneFrame sample_num_high=1 sample_num_low=2 sample_store=1",
               "__function=releaseOneFrame sample_num_high=1 sample_num_low=2 sample_store=1"}));
    EXPECT_TRUE(_log.contains("Preview Size ----------------------- 640x480"));
    EXPECT_TRUE(_log.contains("Video Format ----------------------- yuv420p"));
}

TEST_F(ConnectedCalls, ClosingTheProxyEndsItsLifeAtTheHostInOrder) {
    startHost();
    std::unique_ptr<CRemoteCamera> camera = bind(1);
    camera.reset();
    Lines events;
    for (const std::string& line : _host.recordOf({"request", "control", "hgcm"})) {
        // The transfers that carry the packets are left out.
        if (line.find(" function=9 ") == std::string::npos &&
            line.find(" function=10 ") == std::string::npos) {
            events.push_back(line);
        }
    }
    // The host picks the client id at random; the first line names it.
    ASSERT_FALSE(events.empty());
    const std::string c = "client=" + events[0].substr(events[0].rfind('=') + 1);
    EXPECT_EQ(events,
              (Lines{"hgcm connect " + c, "control open " + c + " port=10072",
                     "request " + c + " __function=__initThis __remote_class=CameraDevice",
                     "request " + c + " __function=setCameraIx ix=1",
                     "request " + c + " __function=__deleteThis", "control close " + c,
                     "hgcm call " + c + " function=8 name=vemo_shm_99", "hgcm disconnect " + c}))
        << ::testing::PrintToString(_host.record());
}

TEST_F(ConnectedCalls, AFailedCallLeavesEveryLaterCallFailingWithoutTheHost) {
    // The host ends the pairing after the creation, the selection and one more request.
    startHost({"--fault", "close-after=3"});
    std::unique_ptr<CRemoteCamera> camera = bind(0);
    EXPECT_EQ(camera->getNumPreviewSize(), 3);
    EXPECT_EQ(camera->captureFrame(0), -1);
    EXPECT_FALSE(camera->isConnected());
    const size_t seen = _host.requests().size();
    _log.clear();

    unsigned long size = 7;
    EXPECT_EQ(camera->getFrameContents(1, &size, &size, &size), nullptr);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(camera->getNumVideoSize(), -1);
    EXPECT_STREQ(camera->getPreferredPreviewSize().c_str(), "");
    unsigned long store = 9;
    EXPECT_EQ(camera->saveFrameToSampleStore(&store, nullptr, nullptr), -1);
    EXPECT_EQ(store, 9u);
    EXPECT_EQ(camera->releaseOneFrame(1, 1), 0);
    EXPECT_EQ(_host.requests().size(), seen);
    EXPECT_EQ(_log.count("Failed on getFrameContents"), 1u);
    EXPECT_EQ(_log.count("Failed on getNumVideoSize"), 1u);
    EXPECT_EQ(_log.count("Failed to Save Frame to sample store"), 1u);
    EXPECT_EQ(_log.count("failed to release Recorded frame"), 1u);
}

TEST_F(ConnectedCalls, AnUnselectedCameraNeverReachesTheHost) {
    startHost();
    CRemoteCamera camera;
    unsigned long size = 5;
    unsigned long long sample = 6;
    EXPECT_EQ(camera.captureFrame(0), -1);
    EXPECT_EQ(camera.getNumPreviewSize(), -1);
    EXPECT_EQ(camera.isExposureSupported(0), -1);
    EXPECT_STREQ(camera.getPreviewSize(0).c_str(), "");
    EXPECT_EQ(camera.getThumbnailContents(0, &size, &size, &size), nullptr);
    EXPECT_EQ(camera.saveFrameToSampleStore(nullptr, &sample, nullptr), -1);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(sample, 6u);
    camera.setPreviewFormat("yuv420sp");
    EXPECT_TRUE(_host.requests().empty());
}

TEST_F(ConnectedCalls, SelectingTwiceOnlyLogs) {
    startHost();
    std::unique_ptr<CRemoteCamera> camera = bind(0);
    EXPECT_EQ(camera->setCameraIx(1), 0);
    EXPECT_TRUE(_log.contains("Camera 1 already connected"));
    EXPECT_EQ(_host.requests().size(), 2u);
}

// Client threads and the worker share one proxy: each exchange must stay whole.
TEST_F(ConnectedCalls, SeveralThreadsShareOneProxy) {
    startHost();
    std::unique_ptr<CRemoteCamera> camera = bind(0);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                unsigned long size = 0;
                unsigned long low = 0;
                unsigned long high = 0;
                unsigned char* frame = camera->getFrameContents(1, &size, &low, &high);
                failures[t] += frame == nullptr || size != 1280u * 720u * 3u / 2u;
                delete[] frame;
                failures[t] += camera->getNumPreviewSize() != 3;
                failures[t] += strcmp(camera->getPreferredPreviewSize().c_str(), "1280x720") != 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_TRUE(camera->isConnected());
}
