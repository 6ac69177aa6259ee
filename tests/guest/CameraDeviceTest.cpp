// The stand-in's hold on an open device: every helper reaches its own slot of the operations
// table, and the device is closed exactly once.

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeCameraDevice.h"
#include "service/CameraDevice.h"

namespace vemo {
namespace test {

namespace {

TEST(GuestCameraDevice, HelpersReachTheirOwnOperations) {
    FakeCameraDevice fake;
    guest::CameraDevice device(fake.device());
    int window = 0;
    const int record[4] = {};

    EXPECT_EQ(device.setPreviewWindow(reinterpret_cast<preview_stream_ops*>(&window)), 101);
    EXPECT_EQ(fake.lastPointer, &window);
    device.enableMsgType(0x10);
    EXPECT_EQ(fake.lastInt, 0x10);
    device.disableMsgType(0x20);
    EXPECT_EQ(fake.lastInt, 0x20);
    EXPECT_EQ(device.msgTypeEnabled(0x4), 105);
    EXPECT_EQ(device.startPreview(), 106);
    device.stopPreview();
    EXPECT_EQ(device.previewEnabled(), 108);
    EXPECT_EQ(device.storeMetaDataInBuffers(2), 109);
    EXPECT_EQ(fake.lastInt, 2);
    EXPECT_EQ(device.startRecording(), 110);
    device.stopRecording();
    EXPECT_EQ(device.recordingEnabled(), 112);
    device.releaseRecordingFrame(record);
    EXPECT_EQ(fake.lastPointer, record);
    EXPECT_EQ(device.autoFocus(), 114);
    EXPECT_EQ(device.cancelAutoFocus(), 115);
    EXPECT_EQ(device.takePicture(), 116);
    EXPECT_EQ(device.cancelPicture(), 117);
    EXPECT_EQ(device.setParameters("k=v"), 118);
    EXPECT_STREQ(static_cast<const char*>(fake.lastPointer), "k=v");
    EXPECT_EQ(device.sendCommand(6, 0, 0), 121);
    EXPECT_EQ(fake.lastInt, 6);
    device.release();
    EXPECT_EQ(device.dump(7), 123);
    EXPECT_EQ(fake.lastInt, 7);

    std::istringstream names(
        "set_preview_window enable_msg_type disable_msg_type msg_type_enabled start_preview "
        "stop_preview preview_enabled store_meta_data_in_buffers start_recording "
        "stop_recording recording_enabled release_recording_frame auto_focus "
        "cancel_auto_focus take_picture cancel_picture set_parameters send_command release "
        "dump");
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{std::istream_iterator<std::string>(names), {}}));
}

TEST(GuestCameraDevice, ParametersAreHandedBackAtOnce) {
    FakeCameraDevice fake;
    guest::CameraDevice device(fake.device());
    std::string text;
    ASSERT_TRUE(device.getParameters(&text));
    EXPECT_EQ(text, "a=1;b=2");
    EXPECT_EQ(fake.putBack, fake.handedOut);

    fake.parametersFail = true;
    fake.calls.clear();
    EXPECT_FALSE(device.getParameters(&text));
    EXPECT_EQ(fake.calls, std::vector<std::string>{"get_parameters"});
}

TEST(GuestCameraDevice, ClosesExactlyOnce) {
    FakeCameraDevice fake;
    {
        guest::CameraDevice device(fake.device());
        EXPECT_FALSE(device.closed());
    }
    EXPECT_EQ(fake.calls, std::vector<std::string>{"close"});

    fake.calls.clear();
    fake.closeResult = -22;
    {
        guest::CameraDevice device(fake.device());
        EXPECT_EQ(device.close(), -22);
        EXPECT_TRUE(device.closed());
        EXPECT_EQ(device.raw(), nullptr);
    }
    EXPECT_EQ(fake.calls, std::vector<std::string>{"close"});
}

}  // namespace

}  // namespace test
}  // namespace vemo
