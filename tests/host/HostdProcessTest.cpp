// vemo-hostd as a user and the integration tests run it: options, the ready line, the exit
// status. Every wait is bounded; a process that does not end in time is killed by its pid.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <sstream>

#include "FrameTestSupport.h"
#include "HgcmTestSupport.h"
#include "HostTestSupport.h"
#include "SourceTestSupport.h"
#include "support/Eventually.h"
#include "support/HostProcess.h"
#include "support/LoopbackSockets.h"
#include "support/TempFolder.h"

namespace vemo {
namespace host {
namespace {

using test::describe;
using test::request;
using vemo::test::HostProcess;
using vemo::test::ProgramResult;
using vemo::test::runProgram;
using vemo::test::TempFolder;

// vemo-hostd with the console as a user gets it unless told, its stderr kept for the test.
class Hostd : public HostProcess {
public:
    Hostd() : HostProcess(VEMO_HOSTD_PATH) {
        setDefaultWebConsole(true);
        setCaptureErrors(true);
    }
};

TEST(HostdProcess, AnnouncesReadyServesAndStopsCleanlyOnEitherSignal) {
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        Hostd hostd;
        ASSERT_TRUE(hostd.start(
            {"--web-port", "0", "--cameras", "3", "--camera", "2:name=Side", "--quiet"}))
            << hostd.error();
        const std::string ready = hostd.output();
        std::map<std::string, std::string> fields;
        ASSERT_TRUE(vemo::test::parseReadyLine(ready.substr(0, ready.find('\n')), &fields));
        ASSERT_EQ(fields.size(), 5u) << ready;
        EXPECT_EQ(ready, "vemo-hostd ready camera-port=" + fields["camera-port"] +
                             " control-port=" + fields["control-port"] + " hgcm-socket=" +
                             fields["hgcm-socket"] + " ctl-socket=" + fields["ctl-socket"] +
                             " web=" + fields["web"] + "\n");
        EXPECT_GT(hostd.port("control-port"), 0);
        const std::string web = fields["web"];
        ASSERT_EQ(web.rfind("http://127.0.0.1:", 0), 0u) << web;
        EXPECT_GT(std::stoi(web.substr(17)), 0);
        EXPECT_EQ(web.back(), '/');
        struct stat info {};
        for (const char* socket : {"hgcm-socket", "ctl-socket"}) {
            ASSERT_EQ(stat(fields[socket].c_str(), &info), 0);
            EXPECT_TRUE(S_ISSOCK(info.st_mode));
        }
        // Both sockets share the host's private directory.
        const std::string& hgcm = fields["hgcm-socket"];
        EXPECT_EQ(fields["ctl-socket"], hgcm.substr(0, hgcm.rfind('/')) + "/ctl.sock");
        ASSERT_EQ(stat(hgcm.substr(0, hgcm.rfind('/')).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        test::TestClient client;
        ASSERT_TRUE(client.open(static_cast<uint16_t>(hostd.cameraPort())));
        const std::optional<Message> name = client.call(request("getCameraName", 2));
        ASSERT_TRUE(name);
        EXPECT_EQ(describe(*name), "__return=str:\"Side\"");

        // The client stays connected: stopping must not wait for it, and says nothing more.
        EXPECT_EQ(hostd.stop(sig), 0);
        EXPECT_TRUE(client.waitForClose());
        EXPECT_EQ(hostd.output(), ready);
        const std::string socket = fields["hgcm-socket"];
        EXPECT_NE(stat(socket.c_str(), &info), 0);
        EXPECT_NE(stat(fields["ctl-socket"].c_str(), &info), 0);
        EXPECT_NE(stat(socket.substr(0, socket.rfind('/')).c_str(), &info), 0);
    }
}

// `vemo-hostd ctl ARGS...` as a user runs it.
ProgramResult ctl(std::vector<std::string> args) {
    args.insert(args.begin(), "ctl");
    return runProgram(VEMO_HOSTD_PATH, args);
}

TEST(HostdProcess, CtlFindsTheOneRunningHostReadsSamplesAndSaysWhenItCannot) {
    // The hosts' private directories, and so the sockets that ctl looks for, go here.
    const TempFolder folder;
    const std::string& directory = folder.path();
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string restore = oldTmp != nullptr ? oldTmp : "";
    setenv("TMPDIR", directory.c_str(), 1);
    unsetenv("VEMO_HOSTD_CTL");
    Hostd first;
    ASSERT_TRUE(first.start({"--quiet"})) << first.error();
    const std::string firstSocket = first.field("ctl-socket");
    EXPECT_EQ(firstSocket.rfind(directory + "/vemo-hostd.", 0), 0u) << firstSocket;

    // A sample to read back: the video stream's first picture, which shows number 1.
    test::TestClient client;
    ASSERT_TRUE(client.open(static_cast<uint16_t>(first.cameraPort()), 0));
    const std::optional<Message> saved = client.call(request("saveFrameToSampleStore"));
    ASSERT_TRUE(saved);
    const std::string store = std::to_string(saved->u32("sample_store").value_or(0));
    const std::string number = std::to_string(test::u64(*saved, "sample_num"));

    ProgramResult run = ctl({"samples"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\n");
    const std::string file = directory + "/sample.yuv";
    run = ctl({"sample", store, number, "--out", file});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("timestamp")),
              "store " + store + "\nnumber " + number + "\nformat yuv420p\nsize 1280x720\n");
    EXPECT_NE(run.out.find("\ndata 1382400 bytes written to " + file + "\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(test::readCounter(PixelFormat::kYV12, test::readFile(file), {1280, 720}), 1u);
    run = ctl({"sample", store, "1"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vemo-hostd ctl: store " + store + " holds no sample 1\n");

    // Two hosts: which one is meant must be said.
    Hostd second;
    ASSERT_TRUE(second.start({"--quiet"})) << second.error();
    const std::string secondSocket = second.field("ctl-socket");
    run = ctl({"samples"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(
        run.err.rfind("vemo-hostd ctl: 2 vemo-hostd control sockets in " + directory + " (", 0), 0u)
        << run.err;
    EXPECT_NE(run.err.find("): pass --socket PATH or set VEMO_HOSTD_CTL\n"), std::string::npos);
    setenv("VEMO_HOSTD_CTL", secondSocket.c_str(), 1);
    EXPECT_EQ(ctl({"samples"}).out, "0\n");
    unsetenv("VEMO_HOSTD_CTL");
    EXPECT_EQ(ctl({"--socket", firstSocket, "samples"}).out, "1\n");

    EXPECT_EQ(first.stop(), 0);
    run = ctl({"--socket", firstSocket, "samples"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vemo-hostd ctl: cannot reach vemo-hostd at " + firstSocket +
                           ": No such file or directory\n");
    // The one left is found by itself.
    EXPECT_EQ(ctl({"samples"}).out, "0\n");
    EXPECT_EQ(second.stop(), 0);
    run = ctl({"samples"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vemo-hostd ctl: no running vemo-hostd found in " + directory +
                           " (pass --socket PATH or set VEMO_HOSTD_CTL)\n");
    run = ctl({});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "vemo-hostd ctl: no command (see vemo-hostd ctl --help)\n");

    setenv("TMPDIR", restore.c_str(), 1);
    if (restore.empty()) {
        unsetenv("TMPDIR");
    }
}

TEST(HostdProcess, ExitAfterFaultEndsTheProcessAtTheNthRequestOfTheHost) {
    const TempFolder folder;
    Hostd hostd;
    ASSERT_TRUE(
        hostd.start({"--web-port", "off", "--hgcm-socket", folder.file("hgcm.sock"), "--ctl-socket",
                     folder.file("ctl.sock"), "--fault", "exit-after=3", "--quiet"}))
        << hostd.error();
    const int port = hostd.cameraPort();
    // Requests count over every connection: two answered here, the third never.
    test::TestClient first;
    test::TestClient second;
    ASSERT_TRUE(first.open(static_cast<uint16_t>(port)));
    ASSERT_TRUE(second.open(static_cast<uint16_t>(port)));
    ASSERT_TRUE(first.sendRaw(test::packetOf(request("getNumCameras"))));
    EXPECT_TRUE(first.waitForClose());
    EXPECT_TRUE(second.waitForClose());
    const int status = hostd.waitForEnd();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_NE(hostd.errorOutput().find("exit-after fault"), std::string::npos);
}

TEST(HostdProcess, HoardedSamplesStayWithinTheBudgetAndTheirMemoryLeavesWithTheirStores) {
    constexpr size_t kBudget = size_t{48} << 20;
    Hostd hostd;
    ASSERT_TRUE(hostd.start({"--web-port", "off", "--sample-memory", "48", "--quiet"}))
        << hostd.error();
    const int port = hostd.cameraPort();
    const auto resident = [&hostd] { return vemo::test::residentBytes(hostd.pid()); };
    [[maybe_unused]] const size_t idle = resident();
    // Recording clients that never release, each in a store of its own, until the host says no.
    // The first one's frames are gone before the others start: the allocator then serves frames
    // from its heap rather than mapping each on its own.
    std::vector<std::unique_ptr<test::TestClient>> hoarders;
    size_t saved = 0;
    std::optional<Message> refused;
    const Message capture = test::with(request("captureFrame"), "id", 0);
    for (int c = 0; c < 4; ++c) {
        if (c == 1) {
            hoarders.clear();
            saved = 0;
            refused.reset();
        }
        hoarders.push_back(std::make_unique<test::TestClient>());
        test::TestClient& client = *hoarders.back();
        ASSERT_TRUE(client.open(static_cast<uint16_t>(port), 0));
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(client.call(capture));
            std::optional<Message> reply = client.call(request("saveFrameToSampleStore"));
            ASSERT_TRUE(reply);
            if (reply->find("__error") != nullptr) {
                refused = reply;
                break;
            }
            ++saved;
        }
    }
    ASSERT_TRUE(refused);
    EXPECT_EQ(describe(*refused),
              "__error=str:\"saveFrameToSampleStore: no memory left for samples\"");
    // 1280x720 video frames of 1.3 MiB.
    EXPECT_LE(saved * 1382400, kBudget);
    EXPECT_GT(saved * 1382400, kBudget - 1382400);
    [[maybe_unused]] const size_t hoarding = resident();
    hoarders.clear();
#if !defined(__SANITIZE_ADDRESS__)
    // The address checker keeps freed blocks in a quarantine of its own.
    EXPECT_LT(hoarding, idle + kBudget + (size_t{24} << 20));
    EXPECT_TRUE(vemo::test::eventually([&] { return resident() < hoarding - kBudget / 2; }, 5000))
        << "idle " << idle << ", hoarding " << hoarding;
#endif
}

TEST(HostdProcess, BadOptionsAndUnreadableSourcesStopTheStartInOneLine) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--cameras", "many"},
         "vemo-hostd: --cameras: expected a number from 0 to 16, got \"many\" (see --help)\n"},
        {{"--camera-port", "0", "--control-port", "0", "--camera",
          "1:source=image:/nonexistent/qr.png"},
         "vemo-hostd: camera 1: cannot open /nonexistent/qr.png: No such file or directory\n"},
    };
    for (const auto& [args, error] : cases) {
        const ProgramResult run = runProgram(VEMO_HOSTD_PATH, args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, error);
        EXPECT_EQ(run.out, "");
    }
}

TEST(HostdProcess, WebConsoleOnATakenPortIsLeftOutByDefaultAndAnErrorWhenAskedFor) {
    // The test holds the default port itself. Another host of a test running beside this one
    // may have it for a moment (one that stops at start-up on a bad source, say), so it tries
    // for a while: a port taken by someone who lets it go would make the check below a race.
    const int held = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // As the host's own listener does, so that connections of an earlier host still waiting
    // out their close don't keep the port from the test.
    const int reuse = 1;
    setsockopt(held, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(10080);
    bool holding = false;
    for (int attempt = 0; attempt < 100 && !holding; ++attempt) {
        holding = bind(held, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        if (!holding) {
            usleep(100 * 1000);
        }
    }
    ASSERT_TRUE(holding) << "127.0.0.1:10080 stayed taken for 10 s: " << strerror(errno);
    ASSERT_EQ(listen(held, 1), 0);
    {
        Hostd hostd;
        ASSERT_TRUE(hostd.start()) << hostd.error();
        EXPECT_EQ(hostd.field("web"), "") << hostd.output();
        EXPECT_EQ(hostd.stop(), 0);
        EXPECT_NE(hostd.errorOutput().find("web console off: 127.0.0.1:10080 is taken\n"),
                  std::string::npos)
            << hostd.errorOutput();
    }
    // A port asked for is an error when taken.
    const vemo::test::LoopbackListener other;
    const std::string port = std::to_string(other.port());
    Hostd hostd;
    EXPECT_FALSE(hostd.start({"--web-port", port, "--quiet"}));
    EXPECT_NE(hostd.error().find("(exit status 2)"), std::string::npos) << hostd.error();
    EXPECT_EQ(hostd.errorOutput(),
              "vemo-hostd: --web-port " + port + ": 127.0.0.1:" + port + " is taken\n");
    EXPECT_EQ(hostd.output(), "");
    close(held);
}

TEST(HostdProcess, HelpDocumentsEveryOption) {
    const ProgramResult run = runProgram(VEMO_HOSTD_PATH, {"--help"});
    EXPECT_EQ(run.exitCode, 0);
    const std::string& help = run.out;
    // The options and the values of each, as the text names them.
    std::istringstream options(
        "--cameras N;--camera IX:;facing=;orientation=;name=;--orientation D;--listen ADDR;"
        "--camera-port P;--control-port P;--hgcm-socket PATH;--ctl-socket PATH;"
        "vemo-hostd ctl;--record PATH;fps=;source=SOURCE;image:PATH;folder@N:PATH;y4m:PATH;"
        "video:PATH;url:URI;webcam:DEVICE;gst:PIPELINE;--list-devices;letterboxed;--unpaced;"
        "--fault MODE;--web-port P|off;--web-listen ADDR;--web-upload-max MIB;refuse;"
        "close-after=N;byte-per-transfer;stall;malformed;busy;exit-after=N;freeze-after=N:MS;"
        "--idle-limit S;--max-driver-clients N;--sample-memory MB;--quiet;--verbose;--help");
    for (std::string option; std::getline(options, option, ';');) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace host
}  // namespace vemo
