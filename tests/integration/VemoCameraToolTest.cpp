// vemo-camera as a user runs it: a separate process under the guest-driver emulation, which it
// links, with the module from the build's lib folder and a vemo-hostd of the test's own.

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LoopbackSockets.h"
#include "support/HostProcess.h"

namespace vemo {
namespace test {

namespace {

// Runs the tool with the camera service port forwarded to port, and nothing from this
// process's environment that could choose another module, host or preload.
ProgramResult runTool(const std::vector<std::string>& args, int port,
                      std::vector<std::string> env = {}) {
    env.insert(env.begin(),
               {"VEMO_NAT_PORT_10072=" + std::to_string(port), "VEMO_CAMERA_MODULE",
                "VEMO_PROPERTY_FILE", "LD_PRELOAD", "VEMO_NAT_PORT_10088", "VEMO_HGCM_SOCKET"});
    return runProgram(VEMO_CAMERA_TOOL_PATH, args, env);
}

bool isOneErrorLine(const std::string& text) {
    return text.rfind("vemo-camera: ", 0) == 0 && std::count(text.begin(), text.end(), '\n') == 1 &&
           text.back() == '\n';
}

TEST(VemoCameraTool, ListPrintsTheCamerasOfTheHost) {
    HostProcess host(VEMO_HOSTD_PATH);
    ASSERT_TRUE(host.start({"--cameras", "2", "--camera", "0:facing=1,orientation=90", "--camera",
                            "1:facing=0,orientation=270", "--orientation", "180"}))
        << host.error();
    const ProgramResult result = runTool({"list"}, host.cameraPort());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "cameras: 2\n"
              "camera 0: facing back, orientation 90\n"
              "camera 1: facing front, orientation 270\n"
              "current orientation: 180\n");
    EXPECT_EQ(result.err, "");
}

TEST(VemoCameraTool, ListWithoutHostFailsWithOneLine) {
    RefusingPort nobody;
    const ProgramResult result = runTool({"list"}, nobody.port());
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(isOneErrorLine(result.err)) << result.err;
}

// None of these reaches the host: they end before the module is asked anything.
TEST(VemoCameraTool, UsageAndModuleErrorsAreOneLine) {
    RefusingPort nobody;
    const ProgramResult help = runTool({"--help"}, nobody.port());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: vemo-camera"), std::string::npos);
    EXPECT_NE(help.out.find("  list"), std::string::npos);

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"list", "extra"}, {"list", "--colour"}, {"list", "--module"}}) {
        const ProgramResult result = runTool(wrong, nobody.port());
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_TRUE(isOneErrorLine(result.err)) << result.err;
    }

    const ProgramResult fromEnvironment =
        runTool({"list"}, nobody.port(), {"VEMO_CAMERA_MODULE=/nonexistent/env.so"});
    EXPECT_EQ(fromEnvironment.exitCode, 1);
    EXPECT_TRUE(isOneErrorLine(fromEnvironment.err)) << fromEnvironment.err;
    EXPECT_NE(fromEnvironment.err.find("/nonexistent/env.so"), std::string::npos);

    const ProgramResult fromOption =
        runTool({"list", "--module=/nonexistent/option.so"}, nobody.port(),
                {"VEMO_CAMERA_MODULE=/nonexistent/env.so"});
    EXPECT_EQ(fromOption.exitCode, 1);
    EXPECT_NE(fromOption.err.find("/nonexistent/option.so"), std::string::npos);
}

// Every call of an open camera, over the guest driver and the control port of a vemo-hostd of
// the test's own. The preview and video frames are whole NV21 frames of 1280x720, the size and
// format the probe sets.
TEST(VemoCameraTool, ProbeBindsAHostCameraThroughTheGuestDriver) {
    HostProcess host(VEMO_HOSTD_PATH);
    ASSERT_TRUE(host.start({"--control-port", "0", "--cameras", "2"})) << host.error();
    ASSERT_GT(host.port("control-port"), 0);
    ASSERT_NE(host.field("hgcm-socket"), "");
    const ProgramResult result =
        runTool({"probe", "--camera", "1"}, host.cameraPort(),
                {"VEMO_NAT_PORT_10088=" + std::to_string(host.port("control-port")),
                 "VEMO_HGCM_SOCKET=" + host.field("hgcm-socket")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string size = "[0-9]+x[0-9]+";
    const std::string sizes = size + "(, " + size + ")*";
    const std::string feature = "(not )?supported";
    const std::string timestamp = ", timestamp [0-9]+ us";
    const std::vector<std::string> lines = {
        "camera 1: bound through the guest driver",
        "preview sizes: " + sizes,
        "preferred preview size: 1280x720",
        "picture sizes: " + sizes,
        "video sizes: " + sizes,
        "white balance: " + feature + ", mode [0-9]+",
        "auto focus: " + feature,
        "exposure compensation: " + feature,
        "settings: preview yuv420sp 1280x720 at 30 fps, picture jpeg " + size +
            ", video yuv420sp 1280x720",
        "capture: status 0",
        "video frame: 1382400 bytes" + timestamp,
        "preview frame: 1382400 bytes" + timestamp,
        "photo: [1-9][0-9]* bytes, JPEG" + timestamp,
        "thumbnail: [1-9][0-9]* bytes, JPEG" + timestamp,
        "sample: store [0-9]+, number [0-9]+" + timestamp + "; released with 0",
    };
    std::string pattern;
    for (const std::string& line : lines) {
        pattern += line + "\n";
    }
    EXPECT_THAT(result.out, ::testing::MatchesRegex(pattern));
}

TEST(VemoCameraTool, ProbeWithoutGuestDriverFailsWithOneLine) {
    RefusingPort nobody;
    const ProgramResult result = runTool({"probe"}, nobody.port());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "vemo-camera: the guest driver is not available (VEMO_HGCM_SOCKET unset?)\n");

    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{"probe", "--camera", "one"},
                                               {"probe", "--camera=-1"},
                                               {"probe", "extra"},
                                               {"list", "--camera", "0"}}) {
        const ProgramResult usage = runTool(wrong, nobody.port());
        EXPECT_EQ(usage.exitCode, 2) << usage.err;
        EXPECT_TRUE(isOneErrorLine(usage.err)) << usage.err;
    }
}

}  // namespace

}  // namespace test
}  // namespace vemo
