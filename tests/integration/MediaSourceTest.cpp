// Sources that GStreamer runs, end to end through the module: a QR code of the test's own text
// encoded into WebM and MP4 clips with gst-launch-1.0 and played as video:, and served as a live
// RTSP stream on loopback for url:, read back with zbarimg; the refusals with GStreamer's reasons;
// a stream cut while a guest previews, which comes back by itself; vemo-camera's recordings to
// .webm, .mp4 and .mkv played back with the frames and rate recorded.

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <thread>

#include "QrCodeFixture.h"

namespace vemo {
namespace test {

namespace {

const char kGstLaunch[] = "/usr/bin/gst-launch-1.0";

// An RTSP server on loopback that serves a picture as a live VP8 stream at /code, in its own
// main loop.
class RtspServer {
public:
    explicit RtspServer(const std::string& picture) {
        gst_init(nullptr, nullptr);
        _context = g_main_context_new();
        _loop = g_main_loop_new(_context, FALSE);
        _server = gst_rtsp_server_new();
        gst_rtsp_server_set_address(_server, "127.0.0.1");
        gst_rtsp_server_set_service(_server, "0");
        _launch = "( filesrc location=" + picture +
                  " ! pngdec ! videoconvert ! videoscale ! video/x-raw,width=320,height=320 ! "
                  "imagefreeze is-live=true ! video/x-raw,framerate=10/1 ! videoconvert ! "
                  "vp8enc deadline=1 ! rtpvp8pay name=pay0 pt=96 )";
        mount();
        _source = gst_rtsp_server_attach(_server, _context);
        _thread = std::thread([this] { g_main_loop_run(_loop); });
    }

    ~RtspServer() {
        g_main_loop_quit(_loop);
        _thread.join();
        g_source_destroy(g_main_context_find_source_by_id(_context, _source));
        g_object_unref(_server);
        g_main_loop_unref(_loop);
        g_main_context_unref(_context);
    }

    std::string uri() const {
        return "rtsp://127.0.0.1:" + std::to_string(gst_rtsp_server_get_bound_port(_server)) +
               "/code";
    }

    void mount() {
        GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
        gst_rtsp_media_factory_set_launch(factory, _launch.c_str());
        GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(_server);
        gst_rtsp_mount_points_add_factory(mounts, "/code", factory);
        g_object_unref(mounts);
    }

    // Takes the clip away and drops every client, as a camera that goes off the network.
    void cut() {
        GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(_server);
        gst_rtsp_mount_points_remove_factory(mounts, "/code");
        g_object_unref(mounts);
        GList* dropped = gst_rtsp_server_client_filter(
            _server,
            [](GstRTSPServer*, GstRTSPClient*, gpointer) { return GST_RTSP_FILTER_REMOVE; },
            nullptr);
        g_list_free(dropped);
    }

private:
    GMainContext* _context;
    GMainLoop* _loop;
    GstRTSPServer* _server;
    std::string _launch;
    guint _source = 0;
    std::thread _thread;
};

class MediaSource : public QrCode {
protected:
    // The code as a one-second clip at 15 fps through encoder and muxer, in the test's folder.
    std::string clip(const std::string& name, const std::string& encoder,
                     const std::string& muxer) {
        const std::string path = folder() + "/" + name;
        const ProgramResult made = runProgram(kGstLaunch, {"-q",
                                                           "filesrc",
                                                           "location=" + _code,
                                                           "!",
                                                           "pngdec",
                                                           "!",
                                                           "videoconvert",
                                                           "!",
                                                           "videoscale",
                                                           "!",
                                                           "video/x-raw,width=320,height=320",
                                                           "!",
                                                           "imagefreeze",
                                                           "num-buffers=15",
                                                           "!",
                                                           "video/x-raw,framerate=15/1",
                                                           "!",
                                                           "videoconvert",
                                                           "!",
                                                           encoder,
                                                           "!",
                                                           muxer,
                                                           "!",
                                                           "filesink",
                                                           "location=" + path});
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return path;
    }

    // vemo-camera against the test's host.
    ProgramResult tool(const std::vector<std::string>& args) {
        const HostProcess& host = _host.process();
        return runProgram(VEMO_CAMERA_TOOL_PATH, args,
                          {"VEMO_NAT_PORT_10072=" + std::to_string(host.cameraPort()),
                           "VEMO_NAT_PORT_10088=" + std::to_string(host.port("control-port")),
                           "VEMO_HGCM_SOCKET=" + host.field("hgcm-socket"), "VEMO_CAMERA_MODULE",
                           "VEMO_PROPERTY_FILE", "LD_PRELOAD"},
                          std::chrono::seconds(60));
    }

    // The status line of camera 0.
    std::string cameraStatus() {
        const ProgramResult status = ctl({"status"});
        const size_t at = status.out.find("camera 0 ");
        return at == std::string::npos ? status.out
                                       : status.out.substr(at, status.out.find('\n', at) - at);
    }
};

// The pictures GStreamer decodes from a clip, and the rate its caps announce.
struct Playback {
    int pictures = 0;
    double fps = 0;
};
Playback playBack(const std::string& path) {
    Playback playback;
    gst_init(nullptr, nullptr);
    GstElement* pipeline = gst_parse_launch(
        ("filesrc location=" + path + " ! decodebin ! appsink name=sink sync=false").c_str(),
        nullptr);
    if (pipeline == nullptr) {
        return playback;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    for (int i = 0; i < 1000; ++i) {
        GstSample* sample = nullptr;
        g_signal_emit_by_name(sink, "try-pull-sample", 5 * GST_SECOND, &sample);
        if (sample == nullptr) {
            break;
        }
        int numerator = 0;
        int denominator = 1;
        if (gst_structure_get_fraction(gst_caps_get_structure(gst_sample_get_caps(sample), 0),
                                       "framerate", &numerator, &denominator) &&
            denominator > 0) {
            playback.fps = static_cast<double>(numerator) / denominator;
        }
        ++playback.pictures;
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return playback;
}

}  // namespace

TEST_F(MediaSource, PlaysWebmAndMp4ClipsThroughThePreview) {
    const std::string webm = clip("code.webm", "vp8enc", "webmmux");
    const std::string mp4 = clip("code.mp4", "x264enc", "mp4mux");
    startHost({"--camera", std::string(kCamera) + ",source=video:" + webm});
    open();
    EXPECT_EQ(previewText(), _text);
    EXPECT_NE(cameraStatus().find("shows=\"video 320x320 at 15 fps\""), std::string::npos)
        << cameraStatus();

    const ProgramResult switched = ctl({"source", "0", "video:" + mp4});
    ASSERT_EQ(switched.exitCode, 0) << switched.err;
    EXPECT_NE(switched.out.find("video:" + mp4), std::string::npos) << switched.out;
    const size_t seen = _callbacks.count(CAMERA_MSG_PREVIEW_FRAME);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, seen + 5, std::chrono::seconds(5)));
    guest::CameraEvent frame;
    ASSERT_TRUE(_callbacks.last(CAMERA_MSG_PREVIEW_FRAME, &frame));
    EXPECT_EQ(decode(lumaFile(frame.bytes, "mp4.pgm")), _text);
}

TEST_F(MediaSource, RefusesWhatCannotStartWithGStreamersReasonAndKeepsTheSource) {
    startHost({"--camera", kCamera});
    const std::string notVideo = folder() + "/notes.txt";
    std::ofstream(notVideo) << "not a clip\n";
    const struct {
        std::string source;
        std::string reason;
    } refused[] = {
        {"gst:videotestsrc ! nosuchelement", "no element \"nosuchelement\""},
        {"video:" + _code + ".missing", "not found"},
        {"video:" + notVideo, "Could not determine type of stream"},
        {"webcam:/dev/no-such-camera", "no video capture device \"/dev/no-such-camera\""},
        {"url:rtsp://127.0.0.1:9/none", "Could not open resource"},
    };
    for (const auto& each : refused) {
        const ProgramResult result = ctl({"source", "0", each.source});
        EXPECT_EQ(result.exitCode, 1) << each.source;
        EXPECT_NE(result.err.find(each.reason), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("camera 0 keeps pattern"), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    const ProgramResult devices = ctl({"devices"});
    EXPECT_EQ(devices.exitCode, 0) << devices.err;

    const ProgramResult start =
        runProgram(VEMO_HOSTD_PATH, {"--camera-port", "0", "--control-port", "0", "--camera",
                                     "0:source=gst:videotestsrc ! nosuchelement"});
    EXPECT_EQ(start.exitCode, 2);
    EXPECT_NE(start.err.find("camera 0: gst:videotestsrc ! nosuchelement: no element"),
              std::string::npos)
        << start.err;
}

TEST_F(MediaSource, ServesAnRtspStreamThatComesBackAfterACut) {
    RtspServer server(_code);
    startHost({"--camera", std::string(kCamera) + ",source=url:" + server.uri()});
    open();
    EXPECT_EQ(previewText(), _text);

    server.cut();
    ASSERT_TRUE(
        eventually([&] { return cameraStatus().find("stalled=") != std::string::npos; }, 5000))
        << cameraStatus();
    // The guest keeps its preview, with the last picture.
    const size_t seen = _callbacks.count(CAMERA_MSG_PREVIEW_FRAME);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, seen + 5, std::chrono::seconds(5)));
    guest::CameraEvent frame;
    ASSERT_TRUE(_callbacks.last(CAMERA_MSG_PREVIEW_FRAME, &frame));
    EXPECT_EQ(decode(lumaFile(frame.bytes, "stalled.pgm")), _text);

    server.mount();
    EXPECT_TRUE(
        eventually([&] { return cameraStatus().find("stalled=") == std::string::npos; }, 10000))
        << cameraStatus();
}

TEST_F(MediaSource, RecordsWebmMp4AndMkvClipsThatPlayBackWithTheirFramesAndRate) {
    startHost({"--camera", kCamera});
    for (const char* name : {"clip.webm", "clip.mp4", "clip.mkv"}) {
        const std::string path = folder() + "/" + name;
        const ProgramResult recorded =
            tool({"record", "--seconds", "0.4", "--size", "320x240", "--out", path});
        ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
        const size_t at = recorded.out.find("wrote " + path + ": ");
        ASSERT_NE(at, std::string::npos) << recorded.out;
        int frames = 0;
        double fps = 0;
        ASSERT_EQ(std::sscanf(recorded.out.c_str() + at + 8 + path.size(), "%d frames at %lf fps",
                              &frames, &fps),
                  2)
            << recorded.out;
        const Playback playback = playBack(path);
        EXPECT_EQ(playback.pictures, frames) << name;
        EXPECT_NEAR(playback.fps, fps, 0.2) << name;
        EXPECT_NE(access((path + ".raw.y4m").c_str(), F_OK), 0) << name;
    }
}

}  // namespace test
}  // namespace vemo
