#include <gtest/gtest.h>

#include "HostTestSupport.h"
#include "SessionTestSupport.h"

namespace vemo {
namespace host {
namespace {

using test::describe;
using test::request;

HostConfig threeCameras() {
    HostConfig config = HostConfig::withCameras(3);
    config.cameras[2] = {7, 270, "Side"};
    config.orientation = 90;
    return config;
}

class HostSession : public ::testing::Test {
protected:
    Message call(const Message& request) { return test::callSession(_session, request); }
    Message init(const char* remoteClass = "CameraDevice") {
        return call(test::initRequest(remoteClass));
    }

    HostConfig _config = threeCameras();
    test::HostLogCapture _log;
    HostState _state{_config};
    Session _session{_state, "conn 9"};
};

TEST_F(HostSession, StaticFunctionsAnswerFromTheConfiguration) {
    ASSERT_EQ(describe(init()), "__return=u32:0");
    EXPECT_EQ(describe(call(request("getNumCameras"))), "__return=u32:3");
    EXPECT_EQ(describe(call(request("getCurrentOrientation"))), "__return=u32:90");
    EXPECT_EQ(describe(call(request("getCameraName", 0))),
              "__return=str:\"Vemo Test Pattern (back)\"");
    EXPECT_EQ(describe(call(request("getCameraName", 1))),
              "__return=str:\"Vemo Test Pattern (front)\"");
    EXPECT_EQ(describe(call(request("getCameraName", 2))), "__return=str:\"Side\"");
    EXPECT_EQ(describe(call(request("getCameraFacing", 0))), "__return=u32:1");
    EXPECT_EQ(describe(call(request("getCameraFacing", 1))), "__return=u32:0");
    EXPECT_EQ(describe(call(request("getCameraFacing", 2))), "__return=u32:7");
    EXPECT_EQ(describe(call(request("getCameraOrientation", 2))), "__return=u32:270");
    EXPECT_EQ(describe(call(request("__deleteThis"))), "__return=u32:0");
    EXPECT_EQ(_log.countContaining("W "), 0u);
}

TEST_F(HostSession, BadCameraArgumentRepliesErrorWithoutReturn) {
    init();
    Message ixAsText = request("getCameraName");
    ixAsText.set("ix", Value::string("0"));
    struct Case {
        Message request;
        const char* error;
    } cases[] = {
        {request("getCameraName", 3), "getCameraName: camera ix 3 out of range (3 cameras)"},
        {request("getCameraFacing", 0xFFFFFFFF),
         "getCameraFacing: camera ix 4294967295 out of range (3 cameras)"},
        {request("getCameraOrientation", 3),
         "getCameraOrientation: camera ix 3 out of range (3 cameras)"},
        {request("getCameraOrientation"), "getCameraOrientation: missing u32 argument ix"},
        {ixAsText, "getCameraName: missing u32 argument ix"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(call(c.request)), "__error=str:\"" + std::string(c.error) + "\"");
        EXPECT_EQ(_log.countContaining(std::string("W conn 9: ") + c.error), 1u) << c.error;
    }
}

TEST_F(HostSession, UnknownFunctionRepliesErrorAndLogsOnce) {
    init();
    EXPECT_EQ(describe(call(request("getTemperature"))),
              "__error=str:\"getTemperature: CameraDevice has no such function\"");
    EXPECT_EQ(_log.countContaining("W conn 9: getTemperature: CameraDevice has no such function"),
              1u);
    Message noFunction;
    noFunction.set("ix", Value::u32(0));
    EXPECT_EQ(describe(call(noFunction)), "__error=str:\"?: request without __function\"");
    // The session goes on answering.
    EXPECT_EQ(describe(call(request("getNumCameras"))), "__return=u32:3");
}

TEST_F(HostSession, FunctionsNeedALiveInstance) {
    const std::string noInstance =
        "__error=str:\"getNumCameras: no instance; __initThis must come first\"";
    EXPECT_EQ(describe(call(request("getNumCameras"))), noInstance);
    EXPECT_EQ(describe(init("Toaster")),
              "__error=str:\"__initThis: unknown remote class Toaster\"");
    EXPECT_EQ(_log.countContaining("unknown remote class Toaster"), 1u);
    EXPECT_FALSE(_session.hasInstance());
    EXPECT_EQ(describe(call(request("__initThis"))),
              "__error=str:\"__initThis: no __remote_class\"");

    EXPECT_EQ(describe(init()), "__return=u32:0");
    EXPECT_EQ(describe(init()), "__error=str:\"__initThis: instance already created\"");
    EXPECT_EQ(describe(call(request("getNumCameras"))), "__return=u32:3");

    // A client may delete twice: once explicitly, once from its destructor.
    EXPECT_EQ(describe(call(request("__deleteThis"))), "__return=u32:0");
    EXPECT_EQ(describe(call(request("__deleteThis"))), "__return=u32:0");
    EXPECT_FALSE(_session.hasInstance());
    EXPECT_EQ(describe(call(request("getNumCameras"))), noInstance);
}

TEST_F(HostSession, SummaryKeepsTheLastCallsWithArgumentsResultsAndWhatTheGuestChose) {
    init();
    call(request("setCameraIx", 1));
    call(test::with(request("setPreviewFormat"), "format", "yuv420p"));
    call(request("getCameraName", 5));
    call(test::with(request("getFrameContents"), "id", 1));

    SessionSummary summary = _session.summary();
    EXPECT_EQ(summary.previewSize, "1280x720");
    EXPECT_EQ(summary.previewFormat, "yuv420p");
    ASSERT_EQ(summary.calls.size(), 5u);
    const std::vector<std::vector<std::string>> expected = {
        {"__initThis", "__remote_class=\"CameraDevice\"", "0"},
        {"setCameraIx", "ix=1", "0"},
        {"setPreviewFormat", "format=\"yuv420p\"", "0"},
        {"getCameraName", "ix=5", "error: getCameraName: camera ix 5 out of range (3 cameras)"},
        {"getFrameContents", "id=1", "[1382400 bytes]"},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(summary.calls[i].function, expected[i][0]);
        EXPECT_EQ(summary.calls[i].arguments, expected[i][1]);
        EXPECT_EQ(summary.calls[i].result, expected[i][2]);
        EXPECT_LE(summary.calls[i].micros, 10'000'000u);
    }
    EXPECT_LE(summary.calls[0].at, summary.calls[4].at);

    // Only the last CallLog::kCapacity are kept, oldest first.
    for (uint32_t i = 0; i < CallLog::kCapacity + 3; ++i) {
        call(request("getCameraFacing", i % 3));
    }
    summary = _session.summary();
    ASSERT_EQ(summary.calls.size(), CallLog::kCapacity);
    EXPECT_EQ(summary.calls.front().arguments, "ix=" + std::to_string(3 % 3));
    EXPECT_EQ(summary.calls.back().arguments, "ix=" + std::to_string((CallLog::kCapacity + 2) % 3));
}

}  // namespace
}  // namespace host
}  // namespace vemo
