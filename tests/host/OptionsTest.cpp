#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "Options.h"

namespace vemo {
namespace host {
namespace {

bool parse(std::vector<const char*> args, Options* options, std::string* error) {
    args.insert(args.begin(), "vemo-hostd");
    return parseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(HostOptions, DefaultsServeTwoTestPatternCamerasOnLoopback) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({}, &options, &error));
    ASSERT_EQ(options.host.cameras.size(), 2u);
    EXPECT_EQ(options.host.cameras[0].facing, kFacingBack);
    EXPECT_EQ(options.host.cameras[0].name, "Vemo Test Pattern (back)");
    EXPECT_EQ(options.host.cameras[1].facing, kFacingFront);
    EXPECT_EQ(options.host.cameras[1].name, "Vemo Test Pattern (front)");
    EXPECT_EQ(options.host.cameras[1].orientation, 0u);
    EXPECT_EQ(options.host.orientation, 0u);
    EXPECT_EQ(options.listenAddress, "127.0.0.1");
    EXPECT_EQ(options.cameraPort, 10072);
    EXPECT_EQ(options.logLevel, LogLevel::kInfo);
    EXPECT_FALSE(options.help);
    EXPECT_TRUE(options.host.paced);
    EXPECT_EQ(options.host.cameras[0].fps, 30u);
    EXPECT_EQ(options.host.cameras[1].source.kind, SourceChoice::Kind::kPattern);
    EXPECT_EQ(options.controlPort, 10088);
    EXPECT_EQ(options.hgcmSocket, "");
    EXPECT_EQ(options.recordPath, "");
    EXPECT_EQ(options.host.limits.idleLimitMs, 10000u);
    EXPECT_EQ(options.host.limits.maxDriverClients, 16u);
    EXPECT_EQ(options.host.limits.sampleMemoryBytes, size_t{512} << 20);
    // The web console: on at 10080 unless told; a port given counts as asked for.
    EXPECT_TRUE(options.web.enabled);
    EXPECT_EQ(options.web.port, 10080);
    EXPECT_FALSE(options.web.portGiven);
    EXPECT_EQ(options.web.listenAddress, "127.0.0.1");
    EXPECT_EQ(options.web.uploadMax, size_t{256} << 20);
}

TEST(HostOptions, CameraSettingsApplyWhateverTheOrder) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--camera", "2:facing=0,orientation=90,name=Side Cam", "--cameras=3",
                       "--camera=0:name=Rear", "--camera", "0:orientation=180", "--orientation",
                       "270", "--listen=127.0.0.2", "--camera-port", "0", "--verbose",
                       "--timestamp-offset", "4294967296"},
                      &options, &error))
        << error;
    ASSERT_EQ(options.host.cameras.size(), 3u);
    EXPECT_EQ(options.host.cameras[0].name, "Rear");
    EXPECT_EQ(options.host.cameras[0].orientation, 180u);
    EXPECT_EQ(options.host.cameras[0].facing, kFacingBack);
    EXPECT_EQ(options.host.cameras[2].facing, kFacingFront);
    EXPECT_EQ(options.host.cameras[2].orientation, 90u);
    EXPECT_EQ(options.host.cameras[2].name, "Side Cam");
    EXPECT_EQ(options.host.orientation, 270u);
    EXPECT_EQ(options.host.timestampOffsetUs, 4294967296u);
    EXPECT_EQ(options.listenAddress, "127.0.0.2");
    EXPECT_EQ(options.cameraPort, 0);
    EXPECT_EQ(options.logLevel, LogLevel::kDebug);
}

TEST(HostOptions, CameraSizesAndControlsAreSetPerCamera) {
    Options options;
    std::string error;
    ASSERT_TRUE(
        parse({"--camera", "1:preferred=320x240", "--camera", "1:preview-sizes=800x600/320x240",
               "--camera", "1:video-sizes=320x240,thumbnail=75x45,picture-sizes=1600x1200",
               "--camera", "1:white-balance=0,auto-focus=1,exposure=0"},
              &options, &error))
        << error;
    const CameraConfig& camera = options.host.cameras[1];
    EXPECT_EQ(camera.previewSizes, (std::vector<FrameSize>{{800, 600}, {320, 240}}));
    EXPECT_EQ(camera.preferredPreviewSize, (FrameSize{320, 240}));
    EXPECT_EQ(camera.offeredPictureSizes(), (std::vector<FrameSize>{{1600, 1200}}));
    EXPECT_EQ(camera.videoSizes, (std::vector<FrameSize>{{320, 240}}));
    EXPECT_EQ(camera.thumbnailSize, (FrameSize{75, 45}));
    EXPECT_FALSE(camera.whiteBalance);
    EXPECT_TRUE(camera.autoFocus);
    EXPECT_FALSE(camera.exposure);
    // Camera 0 keeps the defaults; its pictures offer the preview sizes.
    const CameraConfig& first = options.host.cameras[0];
    EXPECT_EQ(first.offeredPictureSizes(),
              (std::vector<FrameSize>{{1920, 1080}, {1280, 720}, {640, 480}}));
    EXPECT_EQ(first.preferredPreviewSize, (FrameSize{1280, 720}));
    EXPECT_EQ(first.videoSizes, (std::vector<FrameSize>{{1280, 720}, {640, 480}}));
    EXPECT_EQ(first.thumbnailSize, (FrameSize{75, 75}));
    EXPECT_TRUE(first.whiteBalance);
    EXPECT_FALSE(first.autoFocus);
    EXPECT_TRUE(first.exposure);
}

TEST(HostOptions, BadOptionsSayWhatIsWrongInOneSentence) {
    const struct {
        std::vector<const char*> args;
        std::string error;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"stray"}, "unexpected argument \"stray\""},
        {{"--quiet=yes"}, "option --quiet takes no value"},
        {{"--cameras", "17"}, "--cameras: expected a number from 0 to 16, got \"17\""},
        {{"--orientation", "45"}, "--orientation: expected 0, 90, 180 or 270, got \"45\""},
        {{"--listen", "localhost"}, "--listen: expected a dotted IPv4 address, got \"localhost\""},
        {{"--camera-port", "65536"},
         "--camera-port: expected a number from 0 to 65535, got \"65536\""},
        {{"--camera", "2:name=x"}, "--camera 2:name=x: no camera 2 (there are 2, see --cameras)"},
        {{"--camera", "name=x"}, "--camera name=x: expected IX:key=value[,key=value...]"},
        {{"--camera", "0:zoom=2"},
         "--camera 0:zoom=2: unknown key \"zoom\" (keys: facing, orientation, name, "
         "preview-sizes, preferred, picture-sizes, video-sizes, thumbnail, white-balance, "
         "auto-focus, exposure, fps, source)"},
        {{"--camera", "1:orientation=91"},
         "--camera 1:orientation=91: orientation: expected 0, 90, 180 or 270, got \"91\""},
        {{"--camera", "0:preview-sizes=640x480,1280x720"},
         "--camera 0:preview-sizes=640x480,1280x720: expected key=value, got \"1280x720\""},
        {{"--camera", "0:video-sizes=640x480/641x480"},
         "--camera 0:video-sizes=640x480/641x480: video-sizes: expected sizes WIDTHxHEIGHT "
         "joined with '/', even sides from 16 to 4096, got \"640x480/641x480\""},
        {{"--camera", "0:thumbnail=0x0"},
         "--camera 0:thumbnail=0x0: thumbnail: expected WIDTHxHEIGHT, sides from 16 to 4096, "
         "got \"0x0\""},
        {{"--timestamp-offset", "-1"},
         "--timestamp-offset: expected microseconds from 0 to 1099511627776, got \"-1\""},
        {{"--camera", "0:preview-sizes=640x480"},
         "--camera 0: preferred size 1280x720 is not one of the preview sizes"},
        {{"--camera", "1:exposure=yes"},
         "--camera 1:exposure=yes: exposure: expected 0 or 1, got \"yes\""},
        {{"--camera", "0:fps=0"},
         "--camera 0:fps=0: fps: expected a number of pictures a second from 1 to 120, got \"0\""},
        {{"--camera", "0:fps=121"},
         "--camera 0:fps=121: fps: expected a number of pictures a second from 1 to 120, got "
         "\"121\""},
        {{"--camera", "0:source=camera:0"},
         "--camera 0:source=camera:0: source: expected pattern, image:PATH, folder:PATH, "
         "folder@N:PATH (N pictures a second, 1 to 120), y4m:PATH, video:PATH, url:URI, webcam, "
         "webcam:DEVICE or gst:PIPELINE, got \"camera:0\""},
        {{"--fault", "sometimes"},
         "--fault: expected refuse, close-after=N, byte-per-transfer, stall, malformed, busy, "
         "exit-after=N or freeze-after=N:MS, got \"sometimes\""},
        {{"--fault", "close-after=0"},
         "--fault: expected close-after=N with N a number of requests from 1, got "
         "\"close-after=0\""},
        {{"--control-port", "70000"},
         "--control-port: expected a number from 0 to 65535, got \"70000\""},
        {{"--record="}, "option --record needs a value"},
        {{"--web-port", "on"}, "--web-port: expected a number from 0 to 65535 or off, got \"on\""},
        {{"--web-listen", "::1"}, "--web-listen: expected a dotted IPv4 address, got \"::1\""},
        {{"--web-upload-max", "0"}, "--web-upload-max: expected MiB from 1 to 4096, got \"0\""},
        {{"--cameras"}, "option --cameras needs a value"},
        {{"--fault", "freeze-after=3"},
         "--fault: expected freeze-after=N:MS with N a number of requests from 1 and MS "
         "milliseconds up to 3600000, got \"freeze-after=3\""},
        {{"--idle-limit", "0"}, "--idle-limit: expected seconds from 1 to 3600, got \"0\""},
        {{"--max-driver-clients", "0"},
         "--max-driver-clients: expected a number from 1 to 4096, got \"0\""},
        {{"--sample-memory", "lots"},
         "--sample-memory: expected megabytes from 1 to 1048576, got \"lots\""},
    };
    for (const auto& c : cases) {
        Options options;
        std::string error;
        EXPECT_FALSE(parse(c.args, &options, &error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(HostOptions, SourcesRatesAndPacingAreChosenPerCamera) {
    Options options;
    std::string error;
    char directory[PATH_MAX];
    ASSERT_NE(getcwd(directory, sizeof(directory)), nullptr);
    ASSERT_TRUE(parse({"--camera", "0:source=image:/pictures/qr code.png,fps=15", "--unpaced",
                       "--camera", "1:source=y4m:clips/walk.y4m", "--cameras", "3", "--camera",
                       "2:source=folder@4:/pictures"},
                      &options, &error))
        << error;
    EXPECT_FALSE(options.host.paced);
    const CameraConfig& first = options.host.cameras[0];
    EXPECT_EQ(first.source.kind, SourceChoice::Kind::kImage);
    EXPECT_EQ(first.source.path, "/pictures/qr code.png");
    EXPECT_EQ(first.fps, 15u);
    // Relative paths are kept absolute, as the host's working directory makes them.
    EXPECT_EQ(options.host.cameras[1].source.text(),
              "y4m:" + std::string(directory) + "/clips/walk.y4m");
    EXPECT_EQ(options.host.cameras[2].source.text(), "folder@4:/pictures");
}

TEST(HostOptions, TransportOptionsAndFaultsWhichAddUp) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--idle-limit", "2", "--max-driver-clients=3", "--sample-memory", "64",
                       "--fault", "exit-after=7", "--fault", "freeze-after=5:250", "--fault",
                       "stall", "--fault=close-after=3", "--cameras", "1", "--fault",
                       "byte-per-transfer", "--control-port", "0", "--hgcm-socket", "/tmp/h.sock",
                       "--record=/tmp/r.txt", "--fault", "busy"},
                      &options, &error))
        << error;
    EXPECT_EQ(options.host.limits.idleLimitMs, 2000u);
    EXPECT_EQ(options.host.limits.maxDriverClients, 3u);
    EXPECT_EQ(options.host.limits.sampleMemoryBytes, size_t{64} << 20);
    const HostFaults& faults = options.host.faults;
    EXPECT_EQ(faults.exitAfter, 7u);
    EXPECT_EQ(faults.freezeAfter, 5u);
    EXPECT_EQ(faults.freezeMs, 250u);
    EXPECT_TRUE(faults.stall && faults.bytePerTransfer && faults.busy);
    EXPECT_FALSE(faults.refuse || faults.malformed);
    EXPECT_EQ(faults.closeAfter, 3u);
    EXPECT_EQ(options.host.cameras.size(), 1u);
    EXPECT_EQ(options.controlPort, 0);
    EXPECT_EQ(options.hgcmSocket, "/tmp/h.sock");
    EXPECT_EQ(options.recordPath, "/tmp/r.txt");

    ASSERT_TRUE(parse({"--web-port", "0", "--web-listen", "127.0.0.2", "--web-upload-max", "16"},
                      &options, &error));
    EXPECT_TRUE(options.web.enabled && options.web.portGiven);
    EXPECT_EQ(options.web.port, 0);
    EXPECT_EQ(options.web.listenAddress, "127.0.0.2");
    EXPECT_EQ(options.web.uploadMax, size_t{16} << 20);
    ASSERT_TRUE(parse({"--web-port", "off"}, &options, &error));
    EXPECT_FALSE(options.web.enabled);
}

}  // namespace
}  // namespace host
}  // namespace vemo
