// The web console's API as a browser or curl uses it: a real vemo-hostd, a real HTTP client.

#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "FrameTestSupport.h"
#include "HostTestSupport.h"
#include "SourceTestSupport.h"
#include "support/HostProcess.h"

namespace vemo {
namespace host {
namespace {

using nlohmann::json;

// A file of the picture in the given format, as a browser would upload it.
std::string pictureFile(const Picture& picture, bool png) {
    const test::TempFolder folder;
    const std::string path = folder.file(png ? "p.png" : "p.jpg");
    const bool written = png ? test::writePng(path, picture) : test::writeJpeg(path, picture);
    return written ? vemo::test::readText(path) : "";
}

// The colour of a JPEG file at the given fractions of its width and height.
std::vector<uint8_t> colourAt(const std::string& file, double x, double y) {
    const std::optional<test::DecodedJpeg> decoded =
        test::decodeJpeg(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    if (!decoded) {
        return {};
    }
    const size_t at = (static_cast<size_t>(decoded->size.height * y) * decoded->size.width +
                       static_cast<size_t>(decoded->size.width * x)) *
                      3;
    return {decoded->rgb[at], decoded->rgb[at + 1], decoded->rgb[at + 2]};
}

bool near(const std::vector<uint8_t>& rgb, uint32_t argb) {
    if (rgb.size() != 3) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        const int want = static_cast<int>((argb >> (16 - 8 * i)) & 0xFF);
        if (std::abs(rgb[i] - want) > 40) {
            return false;
        }
    }
    return true;
}

// A vemo-hostd with its console on a free port, and a client of it.
class WebConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(_host.start({"--web-port", "0", "--web-upload-max", "1", "--quiet"}))
            << _host.error();
        const std::string web = _host.field("web");
        ASSERT_EQ(web.rfind("http://127.0.0.1:", 0), 0u) << web;
        _port = std::stoi(web.substr(17));
        _origin = "127.0.0.1:" + std::to_string(_port);
        const std::string hgcm = _host.field("hgcm-socket");
        _runtime = hgcm.substr(0, hgcm.rfind('/'));
        httplib::Result page = client().Get("/");
        ASSERT_TRUE(page);
        const size_t mark = page->body.find("TOKEN = \"");
        ASSERT_NE(mark, std::string::npos);
        _token = page->body.substr(mark + 9, 32);
    }

    // The host ends cleanly, which under a sanitizer also says it found nothing.
    void TearDown() override {
        if (_host.pid() > 0) {
            EXPECT_EQ(_host.stop(), 0);
        }
    }

    httplib::Client client() const {
        httplib::Client http("127.0.0.1", _port);
        http.set_connection_timeout(std::chrono::seconds(5));
        http.set_read_timeout(std::chrono::seconds(10));
        return http;
    }

    httplib::Result post(const std::string& path, const std::string& body,
                         const std::string& type = "application/octet-stream",
                         httplib::Headers headers = {}) const {
        if (headers.empty()) {
            headers = {{"X-Vemo-Token", _token}};
        }
        return client().Post(path.c_str(), headers, body, type.c_str());
    }

    httplib::Result choose(size_t camera, const std::string& source) const {
        return post("/api/source", json{{"camera", camera}, {"source", source}}.dump(),
                    "application/json");
    }

    json get(const std::string& path) const {
        httplib::Result result = client().Get(path.c_str());
        return result && result->status == 200 ? json::parse(result->body, nullptr, false) : json();
    }

    std::string sourceOf(size_t camera) const {
        return get("/api/status")["cameras"][camera]["source"].get<std::string>();
    }

    std::string live(size_t camera) const {
        httplib::Result result =
            client().Get(("/api/live/" + std::to_string(camera) + ".jpg").c_str());
        return result && result->status == 200 ? result->body : "";
    }

    // The uploads in the host's runtime directory.
    std::vector<std::string> uploads() const {
        std::vector<std::string> names;
        if (DIR* folder = opendir(_runtime.c_str())) {
            while (const dirent* entry = readdir(folder)) {
                if (std::string(entry->d_name).rfind("upload-", 0) == 0) {
                    names.emplace_back(entry->d_name);
                }
            }
            closedir(folder);
        }
        return names;
    }

    vemo::test::HostProcess _host{VEMO_HOSTD_PATH};
    int _port = 0;
    std::string _origin;
    std::string _runtime;
    std::string _token;
};

TEST_F(WebConsoleTest, AnswersEveryVerbAndShowsUploadsAndTheBrowsersPictures) {
    const json status = get("/api/status");
    ASSERT_EQ(status["cameras"].size(), 2u);
    EXPECT_EQ(status["cameras"][0]["source"], "pattern");
    EXPECT_EQ(status["cameras"][0]["state"], "running");
    EXPECT_EQ(status["cameras"][1]["facing"], "front");
    EXPECT_EQ(get("/api/devices"), json::parse(R"({"devices": []})"));
    EXPECT_EQ(get("/api/samples"), json::parse(R"({"outstanding": 0, "stores": []})"));

    // The pattern moves, so the live view changes.
    const std::string first = live(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const std::string second = live(0);
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);

    // A picture uploaded is shown from then on; the next replaces it and its file.
    for (const bool png : {true, false}) {
        const Picture picture = test::quadrants(320, 240, png ? 0 : 2);
        httplib::Result shown = post("/api/upload?camera=1", pictureFile(picture, png));
        ASSERT_TRUE(shown);
        ASSERT_EQ(shown->status, 200) << shown->body;
        const json camera = json::parse(shown->body);
        EXPECT_EQ(camera["shows"], "picture 320x240");
        EXPECT_EQ(camera["source"].get<std::string>().rfind("image:" + _runtime + "/upload-1-", 0),
                  0u)
            << camera;
        EXPECT_EQ(uploads().size(), 1u);
    }
    // Camera 1's view is the last picture letterboxed: quadrant 2 (blue) at the top left.
    EXPECT_TRUE(near(colourAt(live(1), 0.45, 0.25), test::kBlue.argb));

    // Back to the pattern: the upload goes.
    ASSERT_EQ(choose(1, "pattern")->status, 200);
    EXPECT_TRUE(uploads().empty());

    // The browser's camera: pictures pushed while camera 0 shows them, refused otherwise.
    const std::string greenFile = pictureFile(test::quadrants(64, 48, 1), false);  // green first
    EXPECT_EQ(post("/api/frame?camera=0", greenFile)->status, 409);
    ASSERT_EQ(choose(0, "browser")->status, 200);
    EXPECT_EQ(sourceOf(0), "pushed");
    EXPECT_EQ(post("/api/frame?camera=0", greenFile)->status, 204);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(near(colourAt(live(0), 0.25, 0.25), test::kGreen.argb));
    EXPECT_EQ(post("/api/frame?camera=0", "not a picture")->status, 400);
    EXPECT_EQ(post("/api/frame?camera=7", greenFile)->status, 404);

    // A guest's calls, bytes that are not text included, are listed under its camera.
    test::TestClient guest;
    ASSERT_TRUE(guest.connect(static_cast<uint16_t>(_host.cameraPort())));
    Message init = test::request("__initThis");
    init.set("__remote_class", Value::string("CameraDevice"));
    ASSERT_TRUE(guest.call(init));
    ASSERT_TRUE(guest.call(test::request("setCameraIx", 1)));
    Message format = test::request("setPreviewFormat");
    format.set("format", Value::string("\xFF\xFE"));
    ASSERT_TRUE(guest.call(format));
    const json guests = get("/api/status")["cameras"][1]["guests"];
    ASSERT_EQ(guests.size(), 1u) << guests;
    EXPECT_EQ(guests[0]["previewFormat"], "yuv420sp");
    const json calls = guests[0]["calls"];
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1]["function"], "setCameraIx");
    EXPECT_EQ(calls[1]["arguments"], "ix=1");
    EXPECT_EQ(calls[2]["arguments"], "format=\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(calls[2]["result"].get<std::string>().rfind("error: setPreviewFormat", 0), 0u);
}

TEST_F(WebConsoleTest, RefusesRequestsWithoutTheTokenOrFromAnotherHostAndChangesNothing) {
    const std::string body = json{{"camera", 0}, {"source", "browser"}}.dump();
    const std::vector<httplib::Headers> refused = {
        {},                                                      // a cross-site form post
        {{"X-Vemo-Token", "0123456789abcdef0123456789abcdef"}},  // a guessed token
        {{"X-Vemo-Token", _token}, {"Host", "evil.example:" + std::to_string(_port)}},
        {{"X-Vemo-Token", _token}, {"Host", "127.0.0.1"}},  // rebinding on port 80
    };
    for (const httplib::Headers& headers : refused) {
        const httplib::Headers sent =
            headers.empty() ? httplib::Headers{{"Origin", "http://evil.example"}} : headers;
        for (const char* path : {"/api/source", "/api/upload?camera=0", "/api/frame?camera=0"}) {
            httplib::Result result = client().Post(path, sent, body, "application/json");
            ASSERT_TRUE(result);
            EXPECT_EQ(result->status, 403) << path;
            EXPECT_TRUE(json::parse(result->body, nullptr, false).contains("error"));
        }
    }
    // Reading needs the console's own address too, which a rebound name is not.
    for (const char* path : {"/", "/api/status", "/api/live/0.jpg"}) {
        httplib::Result result =
            client().Get(path, {{"Host", "evil.example:" + std::to_string(_port)}});
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 403) << path;
    }
    httplib::Result local =
        client().Get("/api/status", {{"Host", "localhost:" + std::to_string(_port)}});
    EXPECT_EQ(local->status, 200);
    EXPECT_EQ(sourceOf(0), "pattern");

    // The console never names a host file, whatever it is asked for.
    for (const char* source :
         {"image:/etc/hostname", "folder:/tmp", "y4m:/dev/zero", "url:file:///etc/hostname",
          "pushed", "gst:filesrc location=/etc/hostname", "pattern "}) {
        httplib::Result result = choose(0, source);
        EXPECT_EQ(result->status, 400) << source;
    }
    EXPECT_EQ(choose(0, "url:rtsp://127.0.0.1:9/none")->status, 400);
    EXPECT_EQ(choose(5, "pattern")->status, 404);
    EXPECT_EQ(post("/api/source", "{\"camera\": 0", "application/json")->status, 400);
    EXPECT_EQ(post("/api/source", "[1, 2]", "application/json")->status, 400);
    EXPECT_EQ(sourceOf(0), "pattern");
}

TEST(WebConsoleElsewhere, ServedAtAnotherAddressEveryRequestNeedsTheTokenTheReadyLineGives) {
    // 127.0.0.2 stands for an address beyond this machine without leaving it.
    vemo::test::HostProcess host(VEMO_HOSTD_PATH);
    ASSERT_TRUE(host.start({"--web-port", "0", "--web-listen", "127.0.0.2", "--quiet"}))
        << host.error();
    const std::string web = host.field("web");
    const size_t query = web.find("/?token=");
    ASSERT_EQ(web.rfind("http://127.0.0.2:", 0), 0u) << web;
    ASSERT_NE(query, std::string::npos) << web;
    const std::string token = web.substr(query + 8);
    httplib::Client client("127.0.0.2", std::stoi(web.substr(17, query - 17)));
    client.set_read_timeout(std::chrono::seconds(5));
    for (const char* path : {"/", "/api/status", "/api/live/0.jpg"}) {
        EXPECT_EQ(client.Get(path)->status, 403) << path;
        EXPECT_EQ(client.Get(path, {{"Host", "localhost:" + web.substr(17, query - 17)}})->status,
                  403)
            << path;
        EXPECT_EQ(client.Get((std::string(path) + "?token=" + token).c_str())->status, 200) << path;
        EXPECT_EQ(client.Get(path, {{"X-Vemo-Token", token}})->status, 200) << path;
    }
}

TEST_F(WebConsoleTest, BadUploadsGetOneMessageAndTheCameraKeepsItsSource) {
    const std::string png = pictureFile(test::quadrants(64, 64), true);
    ASSERT_EQ(post("/api/upload?camera=0", png)->status, 200);
    const std::string shown = sourceOf(0);
    const std::vector<std::string> before = uploads();

    struct Bad {
        const char* what;
        std::string body;
        int status;
        const char* message;
    };
    const std::vector<Bad> bad = {
        {"empty", "", 400, "the upload is empty"},
        {"text", "<script>alert(1)</script>", 400, "not a picture or clip"},
        {"truncated PNG", png.substr(0, png.size() / 2), 400, "not a whole PNG picture"},
        {"truncated clip", "YUV4MPEG2 W64 H64 F25:1\nFRAME\nabc", 400, ""},
        {"too large", std::string(std::string("\xFF\xD8\xFF") + std::string(2u << 20, 'x')), 413,
         "larger than 1 MiB"},
    };
    for (const Bad& upload : bad) {
        httplib::Result result = post("/api/upload?camera=0", upload.body);
        ASSERT_TRUE(result) << upload.what;
        EXPECT_EQ(result->status, upload.status) << upload.what;
        const std::string message = json::parse(result->body, nullptr, false)["error"];
        EXPECT_NE(message.find(upload.message), std::string::npos)
            << upload.what << ": " << message;
        EXPECT_NE(message.find("keeps its source"), std::string::npos)
            << upload.what << ": " << message;
        EXPECT_EQ(sourceOf(0), shown) << upload.what;
        EXPECT_EQ(uploads(), before) << upload.what;
    }
    EXPECT_EQ(post("/api/upload?camera=x", png)->status, 404);
    EXPECT_EQ(post("/api/upload", png)->status, 404);

    // Uploads go with the host.
    EXPECT_EQ(_host.stop(), 0);
    struct stat info {};
    EXPECT_NE(stat(_runtime.c_str(), &info), 0);
}

TEST_F(WebConsoleTest, ConcurrentViewersSharePicturesAtMostFifteenASecond) {
    constexpr int kViewers = 6;
    constexpr int kPictures = 20;
    std::vector<std::set<std::string>> seen(kViewers);
    std::vector<int> good(kViewers);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> viewers;
    for (int v = 0; v < kViewers; ++v) {
        viewers.emplace_back([this, v, &seen, &good] {
            httplib::Client http = client();
            for (int i = 0; i < kPictures; ++i) {
                httplib::Result result =
                    http.Get(("/api/live/" + std::to_string(v % 2) + ".jpg").c_str());
                if (result && result->status == 200 &&
                    result->get_header_value("Content-Type") == "image/jpeg") {
                    ++good[v];
                    seen[v].insert(result->body);
                }
                // About a browser's pace, so that the run spans several intervals.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    for (std::thread& viewer : viewers) {
        viewer.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::set<std::string> made[2];
    for (int v = 0; v < kViewers; ++v) {
        EXPECT_EQ(good[v], kPictures) << v;
        made[v % 2].insert(seen[v].begin(), seen[v].end());
    }
    for (const std::set<std::string>& camera : made) {
        EXPECT_GT(camera.size(), 1u);
        EXPECT_LE(camera.size(), static_cast<size_t>(seconds * 15) + 2);
    }
}

}  // namespace
}  // namespace host
}  // namespace vemo
