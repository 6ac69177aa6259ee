#include <gtest/gtest.h>

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
}

TEST(HostOptions, CameraSettingsApplyWhateverTheOrder) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--camera", "2:facing=0,orientation=90,name=Side Cam", "--cameras=3",
                       "--camera=0:name=Rear", "--camera", "0:orientation=180", "--orientation",
                       "270", "--listen=127.0.0.2", "--camera-port", "0", "--verbose"},
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
    EXPECT_EQ(options.listenAddress, "127.0.0.2");
    EXPECT_EQ(options.cameraPort, 0);
    EXPECT_EQ(options.logLevel, LogLevel::kDebug);
}

TEST(HostOptions, BadOptionsSayWhatIsWrongInOneSentence) {
    const struct {
        std::vector<const char*> args;
        const char* error;
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
         "--camera 0:zoom=2: unknown key \"zoom\" (keys: facing, orientation, name)"},
        {{"--camera", "1:orientation=91"},
         "--camera 1:orientation=91: orientation: expected 0, 90, 180 or 270, got \"91\""},
    };
    for (const auto& c : cases) {
        Options options;
        std::string error;
        EXPECT_FALSE(parse(c.args, &options, &error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace host
}  // namespace vemo
