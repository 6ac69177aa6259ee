// What watching costs the guests: preview frames per second at 1280x720 while three viewers
// watch every camera's live view in the web console, against nobody watching, in one run. A
// viewer asks as the console's page does: the next picture of each camera once the last has
// arrived, at most 15 a second. Unpaced, the guest takes frames as fast as the host makes them,
// so any time the console takes from it shows; paced, at the camera's 30 pictures a second, as a
// user runs it.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <vemo/log_hook.h>

#include "PreviewingCamera.h"
#include "RatioReporter.h"

namespace {

using vemo::bench::Previewing;

constexpr int kWatchers = 3;
constexpr int kCameras = 2;
constexpr auto kInterval = std::chrono::milliseconds(1000 / 15);

// Viewers of every camera's live view for their lifetime; pictures counts what they got.
class Watchers {
public:
    Watchers(int port, int count) {
        for (int w = 0; w < count; ++w) {
            _threads.emplace_back([this, port] { watch(port); });
        }
    }
    ~Watchers() {
        _stop = true;
        for (std::thread& thread : _threads) {
            thread.join();
        }
    }
    uint64_t pictures() const { return _pictures; }

private:
    void watch(int port) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(std::chrono::seconds(5));
        auto due = std::chrono::steady_clock::now();
        while (!_stop) {
            std::this_thread::sleep_until(due);
            due = std::chrono::steady_clock::now() + kInterval;
            for (int camera = 0; camera < kCameras; ++camera) {
                const std::string path = "/api/live/" + std::to_string(camera) + ".jpg";
                if (httplib::Result result = client.Get(path.c_str());
                    result && result->status == 200) {
                    ++_pictures;
                }
            }
        }
    }

    std::atomic<bool> _stop{false};
    std::atomic<uint64_t> _pictures{0};
    std::vector<std::thread> _threads;
};

void previewWatched(benchmark::State& state, int watchers, bool paced) {
    Previewing camera({1280, 720}, false, {"--cameras", "2", "--web-port", "0"}, paced);
    const std::string web = camera.ok() ? camera.host().field("web") : "";
    if (web.rfind("http://127.0.0.1:", 0) != 0) {
        state.SkipWithError("no camera or no web console");
        return;
    }
    camera.device().setPreviewWindow(camera.window().ops());
    camera.device().startPreview();
    camera.window().waitForEnqueued(3, std::chrono::seconds(5));
    Watchers viewers(std::stoi(web.substr(17)), watchers);
    // The viewers' first pictures (a source instance each camera) come before the timing.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const uint64_t before = viewers.pictures();
    for (auto _ : state) {
        const uint64_t next = camera.window().enqueued() + 1;
        camera.window().waitForEnqueued(next, std::chrono::seconds(5));
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["live_pictures"] = benchmark::Counter(
        static_cast<double>(viewers.pictures() - before), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vemo_log_set_hook(vemo::bench::dropLogLine, nullptr, 1);
    vemo::bench::RatioReporter reporter;
    for (const bool paced : {false, true}) {
        const std::string mode = paced ? "Paced" : "Unpaced";
        for (const int watchers : {0, kWatchers}) {
            const std::string name =
                "Preview1280x720" + mode + "Watched" + std::to_string(watchers);
            benchmark::RegisterBenchmark(name.c_str(), previewWatched, watchers, paced)
                ->MinTime(3.0)
                ->UseRealTime();
        }
        // Frame time unwatched / frame time watched: the frame rate watched against unwatched.
        reporter.addRatio("preview fps at 1280x720, " + std::string(paced ? "paced" : "unpaced") +
                              ", 3 viewers of every camera / none",
                          "Preview1280x720" + mode + "Watched0",
                          "Preview1280x720" + mode + "Watched3");
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
