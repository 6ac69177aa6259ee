// Frame sources: the choice text, pictures and clips read from files, letterboxing, and every
// source at every stream format and size through a camera instance.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "CameraState.h"
#include "FrameTestSupport.h"
#include "HostState.h"
#include "PictureFit.h"
#include "PictureSource.h"
#include "SourceTestSupport.h"
#include "Y4mClip.h"

namespace vemo {
namespace host {
namespace {

using test::kBlack;
using test::kQuadrants;
using test::Placement;
using test::Yuv;
using test::yuvAt;

constexpr PixelFormat kYuvFormats[] = {PixelFormat::kNV21, PixelFormat::kYV12, PixelFormat::kYUYV};

void expectNear(const Yuv& actual, const Yuv& expected, int tolerance, bool lumaOnly,
                const std::string& what) {
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    if (!lumaOnly) {
        EXPECT_NEAR(actual.u, expected.u, tolerance) << what;
        EXPECT_NEAR(actual.v, expected.v, tolerance) << what;
    }
}

// The quadrants of test::quadrants(..., shift) where placement says, black bars around it.
void expectPlaced(PixelFormat format, const std::vector<uint8_t>& frame, FrameSize size,
                  const Placement& placement, int shift, int tolerance, const std::string& what,
                  bool lumaOnly = false) {
    ASSERT_EQ(frame.size(), FrameLayout::of(format, size).bytes) << what;
    for (int i = 0; i < 4; ++i) {
        const auto [x, y] = placement.quadrantCentre(i);
        expectNear(yuvAt(format, frame, size, x, y), kQuadrants[(i + shift) % 4].yuv, tolerance,
                   lumaOnly, what + " quadrant " + std::to_string(i));
    }
    const int w = static_cast<int>(size.width);
    const int h = static_cast<int>(size.height);
    if (placement.x > 0) {
        expectNear(yuvAt(format, frame, size, placement.x / 2, h / 2), kBlack.yuv, 1, false,
                   what + " left bar");
    }
    if (placement.y > 0) {
        expectNear(yuvAt(format, frame, size, w / 2, (placement.y + placement.height + h) / 2),
                   kBlack.yuv, 1, false, what + " bottom bar");
    }
}

TEST(SourceChoice, ReadsEveryKindBackAndRefusesTheRest) {
    std::string error;
    for (const char* text : {"pattern", "image:/a b/c:d.jpg", "folder:/p", "folder@12:/p",
                             "y4m:clip.y4m", "video:/v/a.mp4", "url:rtsp://127.0.0.1/a", "webcam",
                             "webcam:/dev/video2", "gst:videotestsrc ! video/x-raw,width=64"}) {
        const std::optional<SourceChoice> choice = SourceChoice::parse(text, &error);
        ASSERT_TRUE(choice) << text << ": " << error;
        EXPECT_EQ(choice->text(), text);
    }
    const std::optional<SourceChoice> folder = SourceChoice::parse("folder@12:/p", &error);
    EXPECT_EQ(folder->kind, SourceChoice::Kind::kFolder);
    EXPECT_EQ(folder->folderFps, 12u);
    EXPECT_EQ(SourceChoice::parse("image:/a b/c:d.jpg", &error)->path, "/a b/c:d.jpg");
    EXPECT_EQ(SourceChoice::parse("y4m:c.y4m", &error)->resolvedAgainst("/home").path,
              "/home/c.y4m");
    EXPECT_EQ(SourceChoice::parse("video:c.mp4", &error)->resolvedAgainst("/home").path,
              "/home/c.mp4");
    EXPECT_EQ(SourceChoice::parse("gst:a ! b", &error)->resolvedAgainst("/home").path, "a ! b");

    const std::string kinds =
        "expected pattern, image:PATH, folder:PATH, folder@N:PATH, y4m:PATH, video:PATH, url:URI, "
        "webcam, webcam:DEVICE or gst:PIPELINE";
    const std::string rates = "expected folder@N:PATH with N pictures a second from 1 to 120";
    const std::pair<const char*, std::string> bad[] = {
        {"", kinds},
        {"camera:/dev/video0", kinds},
        {"video:", "expected a path after \"video:\""},
        {"folder@0:/p", rates},
        {"folder@121:/p", rates},
        {"folder2:/p", rates},
        {"image:", "expected a path after \"image:\""},
    };
    for (const auto& [text, expected] : bad) {
        EXPECT_FALSE(SourceChoice::parse(text, &error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
}

TEST(PictureDecoder, ReadsByContentLaysTransparencyOnWhiteAndRefusesCutFiles) {
    test::TempFolder folder;
    Picture picture = test::quadrants(6, 4);
    picture.argb[3] = 0;  // pixel (0, 0) transparent
    ASSERT_TRUE(test::writePng(folder.file("png.jpg"), picture));
    Picture decoded;
    std::string error;
    ASSERT_TRUE(PictureDecoder::decodeFile(folder.file("png.jpg"), &decoded, &error)) << error;
    ASSERT_EQ(decoded.argb.size(), 6u * 4 * 4);
    const auto argbAt = [&](int x, int y) {
        uint32_t value = 0;
        std::memcpy(&value, &decoded.argb[(static_cast<size_t>(y) * 6 + x) * 4], 4);
        return value;
    };
    EXPECT_EQ(argbAt(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(argbAt(2, 0), kQuadrants[0].argb);
    EXPECT_EQ(argbAt(5, 0), kQuadrants[1].argb);
    EXPECT_EQ(argbAt(0, 3), kQuadrants[2].argb);

    ASSERT_TRUE(test::writeJpeg(folder.file("jpeg.png"), test::quadrants(320, 240)));
    ASSERT_TRUE(PictureDecoder::decodeFile(folder.file("jpeg.png"), &decoded, &error)) << error;
    EXPECT_EQ(decoded.width, 320u);
    EXPECT_EQ(decoded.height, 240u);

    const std::vector<uint8_t> png = test::readFile(folder.file("png.jpg"));
    const std::vector<uint8_t> jpeg = test::readFile(folder.file("jpeg.png"));
    std::vector<uint8_t> flipped = png;
    flipped[flipped.size() - 20] ^= 0x55;  // in the picture data, whose checksum then fails
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {{'h', 'i'}, " is neither a JPEG nor a PNG picture"},
        {{png.begin(), png.end() - 30}, " is not a whole PNG picture ("},
        {flipped, " is not a whole PNG picture ("},
        {{png.begin(), png.begin() + 12}, " is not a readable PNG picture ("},
        {{jpeg.begin(), jpeg.end() - 100}, " is not a whole JPEG picture ("},
        {{jpeg.begin(), jpeg.begin() + 40}, " is not a readable JPEG picture ("},
    };
    const std::string path = folder.file("bad");
    for (const auto& [bytes, expected] : cases) {
        ASSERT_TRUE(test::writeFile(path, bytes));
        EXPECT_FALSE(PictureDecoder::decodeFile(path, &decoded, &error));
        EXPECT_EQ(error.substr(0, path.size() + expected.size()), path + expected) << error;
    }
}

TEST(PictureFit, LetterboxesWholePicturesOnEvenCoordinates) {
    const struct {
        uint32_t width, height;
        FrameSize size;
        Rect expected;
    } cases[] = {
        {320, 240, {1280, 720}, {160, 0, 960, 720}},  // narrower: bars left and right
        {320, 240, {640, 480}, {0, 0, 640, 480}},
        {320, 240, {176, 144}, {0, 6, 176, 132}},  // wider: bars above and below
        {174, 174, {1280, 720}, {280, 0, 720, 720}},
        {1000, 10, {640, 480}, {0, 236, 640, 6}},
        {4096, 1, {16, 16}, {0, 6, 16, 2}},  // never thinner than a chroma row
        {161, 121, {640, 480}, {0, 0, 638, 480}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PictureFit::fit(c.width, c.height, c.size), c.expected)
            << c.width << "x" << c.height << " in " << c.size.text();
    }
}

// Camera 0 with sizes of three shapes; the test pictures are 4:3.
class SourceFrames : public ::testing::Test {
protected:
    SourceFrames() {
        CameraConfig& camera = _config.cameras[0];
        camera.previewSizes = {{1280, 720}, {640, 480}, {176, 144}};
        camera.preferredPreviewSize = {640, 480};
        camera.videoSizes = camera.previewSizes;
        camera.thumbnailSize = {160, 120};  // the pictures' own shape
    }

    void select(const std::string& choice) {
        std::string error;
        ASSERT_NE(_state.sources.select(0, *SourceChoice::parse(choice, &error), &error), nullptr)
            << error;
    }

    static const std::vector<uint8_t>& preview(CameraState& camera, PixelFormat format,
                                               FrameSize size) {
        EXPECT_TRUE(camera.setPreviewFormat(formatName(format)).isOk());
        EXPECT_TRUE(camera.setPreviewSize(size.text()).isOk());
        return camera.frame(CameraState::Stream::kPreview);
    }

    HostConfig _config = HostConfig::withCameras(1);
    HostState _state{_config};
    test::TempFolder _folder;
};

const std::pair<FrameSize, Placement> kPlacements[] = {
    {{1280, 720}, {160, 0, 960, 720}},
    {{640, 480}, {0, 0, 640, 480}},
    {{176, 144}, {0, 6, 176, 132}},
};

TEST_F(SourceFrames, APictureIsLetterboxedIntoEveryFormatAndSize) {
    ASSERT_TRUE(test::writePng(_folder.file("q.png"), test::quadrants(320, 240)));
    ASSERT_TRUE(test::writeJpeg(_folder.file("q.jpg"), test::quadrants(320, 240)));
    for (const auto& [name, tolerance] : {std::pair<const char*, int>{"q.png", 3}, {"q.jpg", 8}}) {
        select("image:" + _folder.file(name));
        CameraState camera(_state, 0);
        for (PixelFormat format : kYuvFormats) {
            for (const auto& [size, placement] : kPlacements) {
                expectPlaced(
                    format, preview(camera, format, size), size, placement, 0, tolerance,
                    std::string(name) + " " + std::string(formatName(format)) + " " + size.text());
            }
        }
    }
}

TEST_F(SourceFrames, WindowBuffersPicturesAndThumbnailsShowThePictureLetterboxed) {
    ASSERT_TRUE(test::writePng(_folder.file("q.png"), test::quadrants(320, 240)));
    select("image:" + _folder.file("q.png"));
    CameraState camera(_state, 0);
    ASSERT_TRUE(camera.setPreviewSize("1280x720").isOk());
    ASSERT_TRUE(camera.setPictureSize("1280x720").isOk());
    const auto expectColour = [](const uint8_t* rgb, uint32_t argb, int tolerance,
                                 const std::string& what) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(rgb[c], static_cast<int>((argb >> (16 - 8 * c)) & 0xFF), tolerance) << what;
        }
    };
    const Placement wide = kPlacements[0].second;
    // Window buffers hold R, G, B bytes; libyuv's filters take a level or two off full
    // intensity.
    const std::vector<uint8_t>& window = camera.windowFrame();
    ASSERT_EQ(window.size(), 1280u * 720 * 3);
    for (int i = 0; i < 4; ++i) {
        const auto [x, y] = wide.quadrantCentre(i);
        expectColour(&window[(static_cast<size_t>(y) * 1280 + x) * 3], kQuadrants[i].argb, 2,
                     "window " + std::to_string(i));
    }
    expectColour(&window[(360 * 1280 + 80) * 3], kBlack.argb, 0, "window bar");

    // The picture, and its thumbnail cut from its middle: the bars fall outside it.
    const uint8_t* file = nullptr;
    size_t size = 0;
    ASSERT_TRUE(camera.photo(&file, &size).isOk());
    const std::optional<test::DecodedJpeg> photo = test::decodeJpeg(file, size);
    ASSERT_TRUE(photo && photo->size == (FrameSize{1280, 720}));
    ASSERT_TRUE(camera.thumbnail(&file, &size).isOk());
    const std::optional<test::DecodedJpeg> thumbnail = test::decodeJpeg(file, size);
    ASSERT_TRUE(thumbnail && thumbnail->size == (FrameSize{160, 120}));
    for (int i = 0; i < 4; ++i) {
        const auto [x, y] = wide.quadrantCentre(i);
        expectColour(&photo->rgb[(static_cast<size_t>(y) * 1280 + x) * 3], kQuadrants[i].argb, 10,
                     "photo " + std::to_string(i));
        const auto [tx, ty] = Placement{0, 0, 160, 120}.quadrantCentre(i);
        expectColour(&thumbnail->rgb[(static_cast<size_t>(ty) * 160 + tx) * 3], kQuadrants[i].argb,
                     10, "thumbnail " + std::to_string(i));
    }
    expectColour(&photo->rgb[(360 * 1280 + 80) * 3], kBlack.argb, 10, "photo bar");
}

TEST(PictureSource, AStillPictureIsDrawnOnceHoweverManyFrames) {
    PictureSource source(std::make_shared<std::vector<Picture>>(1, test::quadrants(320, 240)),
                         std::nullopt);
    std::vector<uint8_t> canvas(640 * 480 * 4);
    std::vector<Rect> damage;
    source.render(canvas.data(), 640 * 4, {640, 480}, std::nullopt, &damage);
    EXPECT_EQ(damage, (std::vector<Rect>{{0, 0, 640, 480}}));
    damage.clear();
    for (int i = 0; i < 3; ++i) {
        const uint64_t previous = source.number();
        source.capture();
        source.render(canvas.data(), 640 * 4, {640, 480}, previous, &damage);
    }
    EXPECT_TRUE(damage.empty());
    EXPECT_FALSE(source.ownRate());
}

TEST_F(SourceFrames, AClipPlaysInALoopAtItsRateInEveryChromaLayout) {
    const struct {
        const char* parameters;
        uint32_t width, height;
        const char* chroma;
        bool full;
        int size;  // of kPlacements
    } cases[] = {
        {"W160 H120 F10:1", 160, 120, "420", false, 0},
        {"W161 H121 F10:1 C420mpeg2 Ip A1:1", 161, 121, "420", false, 1},
        {"W640 H480 F10:1 C420paldv", 640, 480, "420", false, 1},  // converted in place
        {"W160 H120 F10:1 C422", 160, 120, "422", false, 2},
        {"W160 H120 F10:1 C444 XCOLORRANGE=FULL", 160, 120, "444", true, 0},
        {"W160 H120 F10:1 Cmono", 160, 120, "mono", false, 0},
    };
    for (const auto& c : cases) {
        const std::string path = _folder.file("clip.y4m");
        ASSERT_TRUE(test::writeFile(
            path, test::y4mClip(c.parameters, c.width, c.height, 3, c.chroma, c.full)));
        select("y4m:" + path);
        CameraState camera(_state, 0);
        EXPECT_EQ(camera.frameRate(), (FrameRate{10, 1}));
        auto [size, placement] = kPlacements[c.size];
        if (c.width == 161) {
            placement = {0, 0, 638, 480};
        }
        for (int k = 0; k < 5; ++k) {
            // Picture k shows frame k % 3: the quadrants turned k % 3 places.
            for (PixelFormat format : kYuvFormats) {
                expectPlaced(format, preview(camera, format, size), size, placement, k % 3, 4,
                             std::string(c.parameters) + " #" + std::to_string(k),
                             std::string(c.chroma) == "mono");
            }
            camera.capture();
        }
    }
}

TEST_F(SourceFrames, AFolderShowsItsPicturesInTurnByNameAtItsRate) {
    ASSERT_TRUE(test::writeJpeg(_folder.file("a.jpg"), test::quadrants(320, 240, 0)));
    ASSERT_TRUE(test::writePng(_folder.file("b.png"), test::quadrants(640, 480, 1)));
    ASSERT_TRUE(test::writePng(_folder.file("c.PNG"), test::quadrants(32, 24, 2)));
    for (const char* ignored : {"notes.txt", ".hidden.png", "sub.png/d.png"}) {
        ::mkdir(_folder.file("sub.png").c_str(), 0700);
        ASSERT_TRUE(test::writeFile(_folder.file(ignored), {'x'}));
    }
    select("folder@5:" + _folder.path());
    EXPECT_EQ(_state.sources.current(0)->description(), "3 pictures at 5 fps");
    CameraState camera(_state, 0);
    EXPECT_EQ(camera.frameRate(), (FrameRate{5, 1}));
    for (int k = 0; k < 4; ++k) {
        expectPlaced(PixelFormat::kNV21, preview(camera, PixelFormat::kNV21, {640, 480}),
                     {640, 480}, kPlacements[1].second, k % 3, 8, "picture " + std::to_string(k));
        camera.capture();
    }
}

TEST_F(SourceFrames, PacedInstancesShowTheFolderPictureOfTheCamerasClockHoweverLateTheyOpen) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(
            test::writePng(_folder.file(std::to_string(i) + ".png"), test::quadrants(320, 240, i)));
    }
    select("folder@20:" + _folder.path());
    _config.paced = true;
    CameraState early(_state, 0);
    early.capture();
    ::usleep(120000);  // two pictures and more of the folder's clock
    CameraState late(_state, 0);
    // Both capture in the same tick of 50 ms but for the rare time when one falls on its edge.
    bool same = false;
    for (int attempt = 0; attempt < 3 && !same; ++attempt) {
        early.capture();
        late.capture();
        same = preview(early, PixelFormat::kNV21, {640, 480}) ==
               preview(late, PixelFormat::kNV21, {640, 480});
    }
    EXPECT_TRUE(same);
}

TEST_F(SourceFrames, SourcesThatCannotBeReadAreRefusedAndTheCameraKeepsItsOwn) {
    const std::string dir = _folder.path();
    ASSERT_TRUE(test::writePng(_folder.file("good.png"), test::quadrants(32, 24)));
    ASSERT_EQ(::mkdir(_folder.file("empty").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(_folder.file("mixed").c_str(), 0700), 0);
    ASSERT_TRUE(test::writePng(_folder.file("mixed/a.png"), test::quadrants(32, 24)));
    ASSERT_TRUE(test::writeFile(_folder.file("mixed/b.jpg"), {0xFF, 0xD8, 0xFF, 0xE0}));
    const std::vector<uint8_t> frames = test::y4mClip("W16 H8 F25:1", 16, 8, 2);
    // A clip with the header and, unless told not to, two frames.
    const auto clip = [&](const std::string& name, const std::string& header, bool framed = true) {
        std::vector<uint8_t> bytes(header.begin(), header.end());
        if (framed) {
            bytes.insert(bytes.end(), std::find(frames.begin(), frames.end(), '\n') + 1,
                         frames.end());
        }
        EXPECT_TRUE(test::writeFile(_folder.file(name), bytes));
        return "y4m:" + _folder.file(name);
    };
    std::vector<uint8_t> garbage = frames;
    garbage.insert(garbage.end(), {'F', 'R', 'A', 'M', 'X', '\n'});
    ASSERT_TRUE(test::writeFile(_folder.file("garbage.y4m"), garbage));
    const std::string notClip = " is not a clip this host plays: ";
    const std::pair<std::string, std::string> cases[] = {
        {"image:" + dir + "/none.png",
         "cannot open " + dir + "/none.png: No such file or directory"},
        {"image:" + dir, dir + " is not a file"},
        {"folder:" + dir + "/empty",
         "the folder " + dir + "/empty holds no .jpg, .jpeg or .png file"},
        {"folder:" + dir + "/mixed", dir + "/mixed/b.jpg is not a readable JPEG picture ("},
        {"y4m:" + dir + "/good.png",
         dir + "/good.png" + notClip + "it does not start with YUV4MPEG2"},
        {clip("a.y4m", "YUV4MPEG2 W16 H8\n"),
         dir + "/a.y4m" + notClip + "its header has no frame rate"},
        {clip("b.y4m", "YUV4MPEG2 W16 H8 F1000:1\n"),
         dir + "/b.y4m" + notClip + "frame rate F1000:1 is not from 1 to 120 frames a second"},
        {clip("c.y4m", "YUV4MPEG2 W16 H8 F25:1 C420p10\n"),
         dir + "/c.y4m" + notClip + "colour space C420p10 is not one of 420, 422, 444 and mono"},
        {clip("d.y4m", "YUV4MPEG2 W0 H8 F25:1\n"),
         dir + "/d.y4m" + notClip + "its size 0x8 is empty"},
        {clip("e.y4m", "YUV4MPEG2 W16 H8 F25:1\n", false),
         dir + "/e.y4m" + notClip + "it holds no whole frame"},
        {"y4m:" + dir + "/garbage.y4m", dir + "/garbage.y4m" + notClip +
                                            "no FRAME header at byte " +
                                            std::to_string(frames.size())},
    };
    select("image:" + _folder.file("good.png"));
    const std::shared_ptr<const SourceContent> before = _state.sources.current(0);
    for (const auto& [text, expected] : cases) {
        std::string error;
        EXPECT_EQ(_state.sources.select(0, *SourceChoice::parse(text, &error), &error), nullptr);
        EXPECT_EQ(error.substr(0, expected.size()), expected);
        EXPECT_EQ(_state.sources.current(0), before);
    }
    // A frame cut short at the end of a clip is left out.
    std::vector<uint8_t> cut = frames;
    const std::string header = "FRAME\n";
    cut.insert(cut.end(), header.begin(), header.end());
    cut.insert(cut.end(), 30, 'x');
    ASSERT_TRUE(test::writeFile(_folder.file("cut.y4m"), cut));
    std::string error;
    const std::shared_ptr<const Y4mClip> shortened = Y4mClip::open(_folder.file("cut.y4m"), &error);
    ASSERT_NE(shortened, nullptr) << error;
    EXPECT_EQ(shortened->describe(), "16x8 4:2:0 at 25 fps, 2 frames");
}

TEST_F(SourceFrames, ASourceChosenWhileStreamingShowsFromTheNextCaptureOn) {
    ASSERT_TRUE(test::writePng(_folder.file("q.png"), test::quadrants(320, 240)));
    CameraState camera(_state, 0);
    const FrameSize size{640, 480};
    const auto counter = [&] {
        return test::readCounter(PixelFormat::kNV21, camera.frame(CameraState::Stream::kPreview),
                                 size);
    };
    camera.capture();
    camera.capture();
    select("image:" + _folder.file("q.png"));
    EXPECT_EQ(counter(), 2u);  // until the next capture, the picture taken before
    camera.capture();
    EXPECT_EQ(camera.pictureNumber(), 3u);
    expectPlaced(PixelFormat::kNV21, camera.frame(CameraState::Stream::kPreview), size,
                 kPlacements[1].second, 0, 3, "preview");
    expectPlaced(PixelFormat::kYV12, camera.frame(CameraState::Stream::kVideo), {1280, 720},
                 kPlacements[0].second, 0, 3, "video");
    // Back to the pattern, which counts afresh while the picture numbers go on.
    select("pattern");
    camera.capture();
    EXPECT_EQ(camera.pictureNumber(), 4u);
    EXPECT_EQ(counter(), 1u);
}

}  // namespace
}  // namespace host
}  // namespace vemo
