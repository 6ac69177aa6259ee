// vemo-camera as a user runs it: a separate process under the guest-driver emulation, which it
// links, with the module from the build's lib folder and a vemo-hostd of the test's own,
// reached through the forwarded camera and control ports and the driver's endpoint.

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "support/Eventually.h"
#include "support/HostProcess.h"
#include "support/LoopbackSockets.h"
#include "support/TempFolder.h"

namespace vemo {
namespace test {

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

bool isOneErrorLine(const std::string& text) {
    return text.rfind("vemo-camera: ", 0) == 0 && std::count(text.begin(), text.end(), '\n') == 1 &&
           text.back() == '\n';
}

// The first number that follows prefix in text; -1 when there is none.
long numberAfter(const std::string& text, const std::string& prefix) {
    const size_t at = text.find(prefix);
    return at == std::string::npos ? -1 : strtol(text.c_str() + at + prefix.size(), nullptr, 10);
}

// The width and height in a PNG file's header chunk.
std::pair<unsigned, unsigned> pngSize(const std::string& file) {
    if (file.size() < 24 || file.compare(12, 4, "IHDR") != 0) {
        return {0, 0};
    }
    const auto be32 = [&file](size_t at) {
        unsigned value = 0;
        for (size_t i = 0; i < 4; ++i) {
            value = value << 8 | static_cast<unsigned char>(file[at + i]);
        }
        return value;
    };
    return {be32(16), be32(20)};
}

// The frames of a YUV4MPEG2 clip of width x height I420 frames; -1 unless the file is one,
// header, frame markers and length.
long clipFrames(const std::string& file, int width, int height) {
    const size_t headerEnd = file.find('\n') + 1;
    const std::regex header("YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) +
                            " F[0-9]+:1000 Ip A1:1 C420jpeg\n");
    const size_t frameSize = 6 + static_cast<size_t>(width) * height * 3 / 2;
    if (headerEnd == 0 || !std::regex_match(file.substr(0, headerEnd), header) ||
        (file.size() - headerEnd) % frameSize != 0) {
        return -1;
    }
    for (size_t at = headerEnd; at < file.size(); at += frameSize) {
        if (file.compare(at, 6, "FRAME\n") != 0) {
            return -1;
        }
    }
    return static_cast<long>((file.size() - headerEnd) / frameSize);
}

long fileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// The shared memory objects of the window buffers process pid made that are still there: the
// guest's allocator puts the pid in the high bits of each buffer id.
std::vector<std::string> windowObjects(pid_t pid) {
    std::vector<std::string> found;
    DIR* dir = opendir("/dev/shm");
    const std::string prefix = "vemo-gralloc-";
    for (dirent* entry; dir != nullptr && (entry = readdir(dir)) != nullptr;) {
        const std::string name = entry->d_name;
        if (name.rfind(prefix, 0) == 0 &&
            strtoul(name.c_str() + prefix.size(), nullptr, 10) >> 10 ==
                static_cast<unsigned long>(pid)) {
            found.push_back(name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return found;
}

// Runs the tool with the camera service port forwarded to port, and nothing from this
// process's environment that could choose another module, host or preload; env is applied
// after that. running gets the tool's pid while it runs (see runProgram).
ProgramResult runTool(const std::vector<std::string>& args, int port,
                      std::vector<std::string> env = {},
                      const std::function<void(pid_t)>& running = nullptr) {
    env.insert(env.begin(),
               {"VEMO_NAT_PORT_10072=" + std::to_string(port), "VEMO_CAMERA_MODULE",
                "VEMO_PROPERTY_FILE", "LD_PRELOAD", "VEMO_NAT_PORT_10088", "VEMO_HGCM_SOCKET"});
    return runProgram(VEMO_CAMERA_TOOL_PATH, args, env, std::chrono::seconds(60), running);
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

// Each error is one line, also that of a list that finds no host; the rest end before the module
// is asked anything.
TEST(VemoCameraTool, UsageModuleAndHostErrorsAreOneLine) {
    RefusingPort nobody;
    const ProgramResult help = runTool({"--help"}, nobody.port());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: vemo-camera"), std::string::npos);
    EXPECT_NE(help.out.find("  list"), std::string::npos);
    for (const char* command : {"params", "set", "preview", "record", "snap"}) {
        const ProgramResult commandHelp = runTool({command, "--help"}, nobody.port());
        EXPECT_EQ(commandHelp.exitCode, 0) << command;
        EXPECT_NE(commandHelp.out.find(std::string("Usage: vemo-camera [OPTIONS] ") + command),
                  std::string::npos)
            << commandHelp.out;
    }

    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"list", "extra"},
                                               {"list", "--colour"},
                                               {"list", "--module"},
                                               {"list", "--camera", "0"},
                                               {"list", "--size", "1x1"},
                                               {"probe", "--camera", "one"},
                                               {"probe", "--camera=-1"},
                                               {"probe", "extra"},
                                               {"params", "extra"},
                                               {"set"},
                                               {"set", "novalue"},
                                               {"preview", "--frames", "0"},
                                               {"preview", "--size", "640"},
                                               {"preview", "--format", "rgb565"},
                                               {"record", "--mode", "raw"},
                                               {"record", "--mode", "metadata", "--out", "x.y4m"},
                                               {"record", "--seconds", "-1"},
                                               {"snap", "--rotation", "45"},
                                               {"snap", "--gps", "48.8,2.3"},
                                               {"snap", "--frames", "3"}}) {
        const ProgramResult result = runTool(wrong, nobody.port());
        EXPECT_EQ(result.exitCode, 2) << (wrong.empty() ? "" : wrong[0]) << ": " << result.err;
        EXPECT_TRUE(isOneErrorLine(result.err)) << result.err;
    }

    // Every command of an open camera needs the guest driver.
    for (const char* command : {"probe", "params"}) {
        const ProgramResult noDriver = runTool({command}, nobody.port());
        EXPECT_EQ(noDriver.exitCode, 1) << command;
        EXPECT_EQ(noDriver.out, "");
        EXPECT_EQ(noDriver.err,
                  "vemo-camera: the guest driver is not available (VEMO_HGCM_SOCKET unset?)\n");
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

    const ProgramResult noHost = runTool({"list"}, nobody.port());
    EXPECT_EQ(noHost.exitCode, 1);
    EXPECT_EQ(noHost.out, "");
    EXPECT_TRUE(isOneErrorLine(noHost.err)) << noHost.err;
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

class VemoCameraCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(_host.start({"--camera", "0:preferred=640x480,video-sizes=640x480/320x240"}))
            << _host.error();
        ASSERT_FALSE(_dir.path().empty());
    }

    // The environment points the tool's guest at the host, and vemo-hostd ctl at its socket.
    ProgramResult run(const std::vector<std::string>& args,
                      const std::function<void(pid_t)>& running = nullptr) {
        return runTool(args, _host.cameraPort(),
                       {"VEMO_NAT_PORT_10088=" + std::to_string(_host.port("control-port")),
                        "VEMO_HGCM_SOCKET=" + _host.field("hgcm-socket"),
                        "VEMO_HOSTD_CTL=" + _host.field("ctl-socket")},
                       running);
    }

    // A copy-mode recording of up to a minute at 320x240 into clip; act runs with the tool's
    // pid once a few frames are in the clip's part file.
    ProgramResult recordUntil(const std::string& clip, const std::function<void(pid_t)>& act) {
        return run(
            {"record", "--seconds", "60", "--size", "320x240", "--out", clip}, [&](pid_t tool) {
                EXPECT_TRUE(eventually([&] { return fileSize(clip + ".part") > 400000; }, 20000));
                act(tool);
            });
    }

    HostProcess _host{VEMO_HOSTD_PATH};
    TempFolder _dir;
};

TEST_F(VemoCameraCommands, ParamsAndSetShowTheDevicesParametersSortedByKey) {
    const ProgramResult params = run({"params"});
    ASSERT_EQ(params.exitCode, 0) << params.err;
    EXPECT_EQ(params.err, "");
    EXPECT_THAT(params.out, MatchesRegex("camera 0: [0-9]+ parameters\n(  [a-z-]+ +[^\n]*\n)+"));
    EXPECT_THAT(params.out,
                MatchesRegex("(.*\n)?  preview-format-values +yuv420sp,yuv420p,yuv422i-yuyv\n.*"));
    std::vector<std::string> keys;
    std::istringstream lines(params.out.substr(params.out.find('\n') + 1));
    for (std::string line; std::getline(lines, line);) {
        keys.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));

    const ProgramResult set =
        run({"set", "--camera", "0", "exposure-compensation=2", "jpeg-quality=80"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_THAT(set.out, HasSubstr("set_parameters accepted 2 changes"));
    EXPECT_THAT(set.out, MatchesRegex("(.*\n)?\\* exposure-compensation +2\n.*"));
    EXPECT_THAT(set.out, MatchesRegex("(.*\n)?\\* jpeg-quality +80\n.*"));

    const ProgramResult refused = run({"set", "flash-mode=invalid"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_TRUE(isOneErrorLine(refused.err)) << refused.err;
    EXPECT_THAT(refused.err, HasSubstr("set_parameters refused the parameters (-22)"));
}

TEST_F(VemoCameraCommands, PreviewSavesWhatTheWindowShowsAndTheLastPreviewFrame) {
    const ProgramResult result = run({"preview", "--frames", "5", "--size", "320x240", "--format",
                                      "yuv420p", "--save", _dir.path()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_THAT(result.out, HasSubstr("camera 0: preview 640x480 yuv420p\n"));
    EXPECT_THAT(result.out, HasSubstr("note: asked for 320x240, but the host decides"));
    EXPECT_THAT(result.out, MatchesRegex("(.*\n)?window: [0-9]+ frames at [0-9.]+ fps; .*"));
    EXPECT_THAT(result.out, MatchesRegex("(.*\n)?preview-frame callbacks: [0-9]+ at [0-9.]+ fps, "
                                         "the last 460800 bytes\n.*"));
    EXPECT_THAT(result.out, Not(HasSubstr("the host has not written")));
    for (const char* picture : {"/window.png", "/preview-frame.png"}) {
        EXPECT_EQ(pngSize(readText(_dir.path() + picture)), std::make_pair(640u, 480u)) << picture;
    }
}

TEST_F(VemoCameraCommands, RecordWritesAClipOrHandsEveryRecordBack) {
    const std::string clip = _dir.path() + "/clip.y4m";
    const ProgramResult copy =
        run({"record", "--seconds", "0.2", "--size", "320x240", "--out", clip});
    ASSERT_EQ(copy.exitCode, 0) << copy.err;
    const long frames = numberAfter(copy.out, "camera 0: ");
    ASSERT_GT(frames, 0) << copy.out;
    EXPECT_EQ(clipFrames(readText(clip), 320, 240), frames);

    // The host is asked afterwards, while the camera is still open: closing it drops its store.
    const ProgramResult metadata =
        run({"record", "--seconds", "0.2", "--mode", "metadata", "--hostd", VEMO_HOSTD_PATH});
    ASSERT_EQ(metadata.exitCode, 0) << metadata.err;
    EXPECT_THAT(metadata.out, HasSubstr("\nhost: holds no sample (ctl samples answers 0)\n"));
    EXPECT_THAT(metadata.out, MatchesRegex("record 1: store [0-9]+, sample [0-9]+, timestamp "
                                           "[0-9]+ ns\n.*"));
    const std::regex summary(
        "camera 0: ([0-9]+) metadata records in 0.2 s; ([0-9]+) handed back "
        "with release_recording_frame, 0 releases failed\n");
    std::smatch counts;
    ASSERT_TRUE(std::regex_search(metadata.out, counts, summary)) << metadata.out;
    EXPECT_EQ(counts[1], counts[2]);
}

// A recording the host dies under ends with what it has: it never hears from the host again,
// and neither a camera error nor 5 s without frames may pass for a finished recording.
TEST_F(VemoCameraCommands, ARecordingCutShortByTheHostsDeathKeepsItsFramesAndFails) {
    const std::string clip = _dir.path() + "/clip.y4m";
    const auto started = std::chrono::steady_clock::now();
    const ProgramResult result =
        recordUntil(clip, [this](pid_t) { ASSERT_EQ(kill(_host.pid(), SIGKILL), 0); });
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(result.exitCode, 1) << result.out;
    EXPECT_TRUE(isOneErrorLine(result.err)) << result.err;
    const long frames = numberAfter(result.err, "camera 0: recorded ");
    EXPECT_THAT(result.err, HasSubstr(" frames into " + clip + " in "));
    EXPECT_THAT(result.err, MatchesRegex(".* of 60 s: (the camera reported an error|no frame for 5 "
                                         "s).*\n"));
    EXPECT_GT(frames, 2);
    EXPECT_EQ(clipFrames(readText(clip), 320, 240), frames);
}

// SIGTERM asks a command to end: it takes its windows down with their shared memory, closes
// the camera, and keeps a clip of what it recorded.
TEST_F(VemoCameraCommands, SigtermEndsARecordingAndAPreviewCleanly) {
    const std::string clip = _dir.path() + "/clip.y4m";
    pid_t recorder = 0;
    const ProgramResult recorded = recordUntil(clip, [&recorder](pid_t tool) {
        recorder = tool;
        kill(tool, SIGTERM);
    });
    EXPECT_EQ(recorded.exitCode, 1);
    EXPECT_TRUE(isOneErrorLine(recorded.err)) << recorded.err;
    EXPECT_THAT(recorded.err, HasSubstr(" of 60 s: interrupted by SIGTERM\n"));
    const long frames = numberAfter(recorded.err, "camera 0: recorded ");
    EXPECT_GT(frames, 2);
    EXPECT_EQ(clipFrames(readText(clip), 320, 240), frames);
    EXPECT_EQ(fileSize(clip + ".part"), -1);

    pid_t previewer = 0;
    const ProgramResult previewed =
        run({"preview", "--frames", "100000"}, [&previewer](pid_t tool) {
            previewer = tool;
            EXPECT_TRUE(eventually([tool] { return !windowObjects(tool).empty(); }, 20000));
            kill(tool, SIGTERM);
        });
    EXPECT_EQ(previewed.exitCode, 1);
    EXPECT_TRUE(isOneErrorLine(previewed.err)) << previewed.err;
    EXPECT_THAT(previewed.err, HasSubstr("interrupted by SIGTERM"));
    for (const pid_t tool : {recorder, previewer}) {
        const std::vector<std::string> left = windowObjects(tool);
        EXPECT_THAT(left, ::testing::IsEmpty());
        for (const std::string& name : left) {
            shm_unlink(("/" + name).c_str());
        }
    }
}

TEST_F(VemoCameraCommands, SnapWritesTheJpegFileAndPrintsItsTags) {
    const std::string photo = _dir.path() + "/photo.jpg";
    const ProgramResult result =
        run({"snap", "-o", photo, "--rotation", "90", "--gps", "48.85837,2.29448,35,1700000000,GPS",
             "--thumbnail", "75x75"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("camera 0: shutter, raw-image notify, compressed image\n"));
    EXPECT_THAT(result.out, HasSubstr("  IFD0 Orientation: Right-top\n"));
    EXPECT_THAT(result.out, HasSubstr("  GPS GPSLatitudeRef: N\n"));
    EXPECT_THAT(result.out, HasSubstr("  GPS GPSProcessingMethod: GPS\n"));
    EXPECT_THAT(result.out, HasSubstr("  GPS GPSTimeStamp: 22:13:20"));
    EXPECT_THAT(result.out, HasSubstr("  IFD0 Make: Vemo\n"));
    EXPECT_THAT(result.out, MatchesRegex("(.*\n)?  thumbnail: [0-9]+ bytes, JPEG 75x75\n.*"));
    // The date and time of the capture, in local time.
    std::smatch stamp;
    ASSERT_TRUE(std::regex_search(result.out, stamp, std::regex("  IFD0 DateTime: ([0-9: ]+)\n")));
    struct tm taken = {};
    ASSERT_NE(strptime(stamp[1].str().c_str(), "%Y:%m:%d %H:%M:%S", &taken), nullptr);
    taken.tm_isdst = -1;
    EXPECT_LT(std::abs(difftime(mktime(&taken), time(nullptr))), 60.0) << stamp[1];

    // The file is the JPEG alone, up to its end marker, and decodes without a warning.
    const std::string file = readText(photo);
    EXPECT_EQ(numberAfter(result.out, "wrote " + photo + ": JPEG 640x480, "),
              static_cast<long>(file.size()));
    ASSERT_GT(file.size(), 4u);
    EXPECT_EQ(file.substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(file.substr(file.size() - 2), "\xFF\xD9");
    tjhandle decoder = tjInitDecompress();
    ASSERT_NE(decoder, nullptr);
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    ASSERT_EQ(tjDecompressHeader3(decoder, bytes, file.size(), &width, &height, &subsampling,
                                  &colorspace),
              0);
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    EXPECT_EQ(tjDecompress2(decoder, bytes, file.size(), rgb.data(), width, 0, height, TJPF_RGB, 0),
              0)
        << tjGetErrorStr2(decoder);
    tjDestroy(decoder);
}

}  // namespace

}  // namespace test
}  // namespace vemo
