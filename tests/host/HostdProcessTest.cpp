// vemo-hostd as a user and the integration tests run it: options, the ready line, the exit
// status. Every wait is bounded; a process that does not end in time is killed by its pid.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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
#include <fstream>
#include <future>
#include <map>
#include <thread>

#include "FrameTestSupport.h"
#include "HgcmTestSupport.h"
#include "HostTestSupport.h"
#include "support/HostProcess.h"

namespace vemo {
namespace host {
namespace {

using test::describe;
using test::request;
using vemo::test::ProgramResult;
using vemo::test::runProgram;

// One vemo-hostd child with its stdout and stderr on pipes.
class Hostd {
public:
    explicit Hostd(const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        _pid = vemo::test::spawnProgram(VEMO_HOSTD_PATH, args, {}, out[1], err[1]);
        close(out[1]);
        close(err[1]);
        _out = out[0];
        _err = err[0];
    }

    ~Hostd() {
        if (_pid > 0 && !_exited) {
            kill(_pid, SIGKILL);
            waitpid(_pid, nullptr, 0);
        }
        close(_out);
        close(_err);
    }

    // The first stdout line, read within the timeout; empty if none came.
    std::string readLine(std::chrono::seconds timeout = std::chrono::seconds(10)) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char c = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{_out, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                continue;
            }
            if (read(_out, &c, 1) != 1 || c == '\n') {
                break;
            }
            line += c;
        }
        return line;
    }

    // The exit status once the process ended within the timeout; -1 if it did not.
    int waitExit(std::chrono::seconds timeout = std::chrono::seconds(10)) {
        int status = 0;
        if (!vemo::test::waitForExit(_pid, timeout, &status)) {
            return -1;
        }
        _exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    void signal(int sig) { kill(_pid, sig); }

    // Resident memory of the process, in bytes.
    size_t residentBytes() const {
        std::ifstream statm("/proc/" + std::to_string(_pid) + "/statm");
        size_t size = 0;
        size_t resident = 0;
        statm >> size >> resident;
        return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
    }

    // Everything on the pipe after the process has ended.
    static std::string drain(int fd) {
        std::string text;
        char buffer[4096];
        ssize_t n = 0;
        while ((n = read(fd, buffer, sizeof(buffer))) > 0) {
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }
    std::string drainOut() { return drain(_out); }
    std::string drainErr() { return drain(_err); }

private:
    pid_t _pid = -1;
    bool _exited = false;
    int _out = -1;
    int _err = -1;
};

// The key=value fields after "vemo-hostd ready".
std::map<std::string, std::string> readyFields(const std::string& line) {
    std::map<std::string, std::string> fields;
    EXPECT_TRUE(vemo::test::parseReadyLine(line, &fields)) << line;
    return fields;
}

TEST(HostdProcess, AnnouncesReadyServesAndStopsCleanlyOnEitherSignal) {
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        Hostd hostd({"--camera-port", "0", "--control-port", "0", "--web-port", "0", "--cameras",
                     "3", "--camera", "2:name=Side,facing=0,orientation=90", "--orientation", "180",
                     "--quiet"});
        const std::string ready = hostd.readLine();
        std::map<std::string, std::string> fields = readyFields(ready);
        ASSERT_EQ(fields.size(), 5u) << ready;
        EXPECT_EQ(ready, "vemo-hostd ready camera-port=" + fields["camera-port"] +
                             " control-port=" + fields["control-port"] +
                             " hgcm-socket=" + fields["hgcm-socket"] +
                             " ctl-socket=" + fields["ctl-socket"] + " web=" + fields["web"]);
        EXPECT_GT(std::stoi(fields["control-port"]), 0);
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
        const int port = std::stoi(fields.at("camera-port"));
        ASSERT_GT(port, 0);

        test::TestClient client;
        ASSERT_TRUE(client.connect(static_cast<uint16_t>(port)));
        ASSERT_TRUE(client.call(test::initRequest()));
        const std::pair<Message, const char*> calls[] = {
            {request("getNumCameras"), "__return=u32:3"},
            {request("getCurrentOrientation"), "__return=u32:180"},
            {request("getCameraName", 2), "__return=str:\"Side\""},
            {request("getCameraFacing", 2), "__return=u32:0"},
            {request("getCameraOrientation", 2), "__return=u32:90"},
        };
        for (const auto& [call, expected] : calls) {
            const std::optional<Message> reply = client.call(call);
            ASSERT_TRUE(reply);
            EXPECT_EQ(describe(*reply), expected);
        }

        // The client stays connected: stopping must not wait for it.
        hostd.signal(sig);
        EXPECT_EQ(hostd.waitExit(), 0);
        EXPECT_TRUE(client.waitForClose());
        EXPECT_EQ(hostd.drainOut(), "");
        const std::string socket = fields["hgcm-socket"];
        EXPECT_NE(stat(socket.c_str(), &info), 0);
        EXPECT_NE(stat(fields["ctl-socket"].c_str(), &info), 0);
        EXPECT_NE(stat(socket.substr(0, socket.rfind('/')).c_str(), &info), 0);
    }
}

TEST(HostdProcess, StopWakesAnOpenCameraThatWaitsForAReply) {
    char directory[] = "/tmp/vemo-hostd-test.XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string record = std::string(directory) + "/record.txt";
    Hostd hostd({"--camera-port", "0", "--control-port", "0", "--web-port", "off", "--fault",
                 "stall", "--record", record, "--quiet"});
    std::map<std::string, std::string> fields = readyFields(hostd.readLine());
    test::HgcmTestClient driver;
    uint32_t id = 0;
    ASSERT_TRUE(driver.open(fields["hgcm-socket"]));
    ASSERT_EQ(driver.connect(HgcmService::kName, &id), 0);
    test::TestClient control;
    ASSERT_TRUE(control.connect(static_cast<uint16_t>(std::stoi(fields["control-port"]))));
    ASSERT_TRUE(control.sendRaw(test::controlRecord(1, id, 10072)));
    ASSERT_TRUE(control.receive(4));
    ASSERT_EQ(driver.sendData(id, test::packetOf(request("getNumCameras"))), 0);
    auto waiting = std::async(std::launch::async, [&driver, id] {
        int32_t count = 0;
        std::vector<uint8_t> bytes;
        driver.recvData(id, 4, &count, &bytes);
        return count;
    });
    ASSERT_EQ(waiting.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);

    hostd.signal(SIGTERM);
    EXPECT_EQ(hostd.waitExit(std::chrono::seconds(3)), 0);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), -1);
    EXPECT_TRUE(control.waitForClose());

    std::ifstream in(record);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "hgcm connect client=" + std::to_string(id));
    unlink(record.c_str());
    rmdir(directory);
}

// `vemo-hostd ctl ARGS...` as a user runs it.
ProgramResult ctl(std::vector<std::string> args) {
    args.insert(args.begin(), "ctl");
    return runProgram(VEMO_HOSTD_PATH, args);
}

TEST(HostdProcess, CtlFindsTheOneRunningHostReadsSamplesAndSaysWhenItCannot) {
    // The hosts' private directories, and so the sockets that ctl looks for, go here.
    char directory[] = "/tmp/vemo-hostd-test.XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string restore = oldTmp != nullptr ? oldTmp : "";
    setenv("TMPDIR", directory, 1);
    unsetenv("VEMO_HOSTD_CTL");
    const std::vector<std::string> quietHost = {"--camera-port", "0", "--control-port", "0",
                                                "--quiet"};
    auto first = std::make_unique<Hostd>(quietHost);
    std::map<std::string, std::string> fields = readyFields(first->readLine());
    const std::string firstSocket = fields["ctl-socket"];
    EXPECT_EQ(firstSocket.rfind(std::string(directory) + "/vemo-hostd.", 0), 0u) << firstSocket;

    // A sample to read back: the video stream's first picture, which shows number 1.
    test::TestClient client;
    ASSERT_TRUE(client.connect(static_cast<uint16_t>(std::stoi(fields["camera-port"]))));
    ASSERT_TRUE(client.call(test::initRequest()));
    ASSERT_TRUE(client.call(request("setCameraIx", 0)));
    const std::optional<Message> saved = client.call(request("saveFrameToSampleStore"));
    ASSERT_TRUE(saved);
    const std::string store = std::to_string(saved->u32("sample_store").value_or(0));
    const std::string number = std::to_string(test::u64(*saved, "sample_num"));

    ProgramResult run = ctl({"samples"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\n");
    const std::string file = std::string(directory) + "/sample.yuv";
    run = ctl({"sample", store, number, "--out", file});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("timestamp")),
              "store " + store + "\nnumber " + number + "\nformat yuv420p\nsize 1280x720\n");
    EXPECT_NE(run.out.find("\ndata 1382400 bytes written to " + file + "\n"), std::string::npos)
        << run.out;
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    EXPECT_EQ(test::readCounter(PixelFormat::kYV12, bytes, {1280, 720}), 1u);
    unlink(file.c_str());
    run = ctl({"sample", store, "1"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vemo-hostd ctl: store " + store + " holds no sample 1\n");

    // Two hosts: which one is meant must be said.
    auto second = std::make_unique<Hostd>(quietHost);
    const std::string secondSocket = readyFields(second->readLine())["ctl-socket"];
    run = ctl({"samples"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(
        run.err.rfind(
            "vemo-hostd ctl: 2 vemo-hostd control sockets in " + std::string(directory) + " (", 0),
        0u)
        << run.err;
    EXPECT_NE(run.err.find("): pass --socket PATH or set VEMO_HOSTD_CTL\n"), std::string::npos);
    setenv("VEMO_HOSTD_CTL", secondSocket.c_str(), 1);
    EXPECT_EQ(ctl({"samples"}).out, "0\n");
    unsetenv("VEMO_HOSTD_CTL");
    EXPECT_EQ(ctl({"--socket", firstSocket, "samples"}).out, "1\n");

    first->signal(SIGTERM);
    EXPECT_EQ(first->waitExit(), 0);
    run = ctl({"--socket", firstSocket, "samples"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vemo-hostd ctl: cannot reach vemo-hostd at " + firstSocket +
                           ": No such file or directory\n");
    // The one left is found by itself.
    EXPECT_EQ(ctl({"samples"}).out, "0\n");
    second->signal(SIGTERM);
    EXPECT_EQ(second->waitExit(), 0);
    run = ctl({"samples"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vemo-hostd ctl: no running vemo-hostd found in " + std::string(directory) +
                           " (pass --socket PATH or set VEMO_HOSTD_CTL)\n");
    run = ctl({});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "vemo-hostd ctl: no command (see vemo-hostd ctl --help)\n");

    setenv("TMPDIR", restore.c_str(), 1);
    if (restore.empty()) {
        unsetenv("TMPDIR");
    }
    rmdir(directory);
}

TEST(HostdProcess, ExitAfterFaultEndsTheProcessAtTheNthRequestOfTheHost) {
    char directory[] = "/tmp/vemo-hostd-test.XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string hgcm = std::string(directory) + "/hgcm.sock";
    const std::string ctl = std::string(directory) + "/ctl.sock";
    Hostd hostd({"--camera-port", "0", "--control-port", "0", "--web-port", "off", "--hgcm-socket",
                 hgcm, "--ctl-socket", ctl, "--fault", "exit-after=3", "--quiet"});
    const int port = std::stoi(readyFields(hostd.readLine())["camera-port"]);
    // Requests count over every connection: two answered here, the third never.
    test::TestClient first;
    test::TestClient second;
    ASSERT_TRUE(first.connect(static_cast<uint16_t>(port)) &&
                second.connect(static_cast<uint16_t>(port)));
    ASSERT_TRUE(first.call(test::initRequest()));
    ASSERT_TRUE(second.call(test::initRequest()));
    ASSERT_TRUE(first.sendRaw(test::packetOf(request("getNumCameras"))));
    EXPECT_TRUE(first.waitForClose());
    EXPECT_TRUE(second.waitForClose());
    EXPECT_EQ(hostd.waitExit(), 3);
    EXPECT_NE(hostd.drainErr().find("exit-after fault"), std::string::npos);
    ::unlink(hgcm.c_str());
    ::unlink(ctl.c_str());
    ::rmdir(directory);
}

TEST(HostdProcess, HoardedSamplesStayWithinTheBudgetAndTheirMemoryLeavesWithTheirStores) {
    constexpr size_t kBudget = size_t{48} << 20;
    Hostd hostd({"--camera-port", "0", "--control-port", "0", "--web-port", "off", "--unpaced",
                 "--sample-memory", "48", "--quiet"});
    const int port = std::stoi(readyFields(hostd.readLine())["camera-port"]);
    [[maybe_unused]] const size_t idle = hostd.residentBytes();
    // Recording clients that never release, each in a store of its own, until the host says no.
    // The first one's frames are gone before the others start: the allocator then serves frames
    // from its heap rather than mapping each on its own.
    std::vector<std::unique_ptr<test::TestClient>> hoarders;
    size_t saved = 0;
    std::optional<Message> refused;
    Message capture = request("captureFrame");
    capture.set("id", Value::u32(0));
    for (int c = 0; c < 4; ++c) {
        if (c == 1) {
            hoarders.clear();
            saved = 0;
            refused.reset();
        }
        hoarders.push_back(std::make_unique<test::TestClient>());
        test::TestClient& client = *hoarders.back();
        ASSERT_TRUE(client.connect(static_cast<uint16_t>(port)));
        ASSERT_TRUE(client.call(test::initRequest()) && client.call(request("setCameraIx", 0)));
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
    [[maybe_unused]] const size_t hoarding = hostd.residentBytes();
    hoarders.clear();
#if !defined(__SANITIZE_ADDRESS__)
    // The address checker keeps freed blocks in a quarantine of its own.
    EXPECT_LT(hoarding, idle + kBudget + (size_t{24} << 20));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (hostd.residentBytes() > hoarding - kBudget / 2 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LT(hostd.residentBytes(), hoarding - kBudget / 2)
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
        Hostd hostd({"--camera-port", "0", "--control-port", "0"});
        const std::string ready = hostd.readLine();
        EXPECT_EQ(readyFields(ready).count("web"), 0u) << ready;
        hostd.signal(SIGTERM);
        EXPECT_EQ(hostd.waitExit(), 0);
        const std::string err = hostd.drainErr();
        EXPECT_NE(err.find("web console off: 127.0.0.1:10080 is taken\n"), std::string::npos)
            << err;
    }
    // A port asked for is an error when taken.
    socklen_t length = sizeof(address);
    address.sin_port = 0;
    const int other = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(other, 1), 0);
    ASSERT_EQ(getsockname(other, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    Hostd hostd({"--camera-port", "0", "--control-port", "0", "--web-port", port, "--quiet"});
    EXPECT_EQ(hostd.waitExit(), 2);
    EXPECT_EQ(hostd.drainErr(),
              "vemo-hostd: --web-port " + port + ": 127.0.0.1:" + port + " is taken\n");
    EXPECT_EQ(hostd.drainOut(), "");
    close(other);
    close(held);
}

TEST(HostdProcess, HelpDocumentsEveryOption) {
    const ProgramResult run = runProgram(VEMO_HOSTD_PATH, {"--help"});
    EXPECT_EQ(run.exitCode, 0);
    const std::string& help = run.out;
    for (const char* option : {"--cameras N",
                               "--camera IX:",
                               "facing=",
                               "orientation=",
                               "name=",
                               "--orientation D",
                               "--listen ADDR",
                               "--camera-port P",
                               "--control-port P",
                               "--hgcm-socket PATH",
                               "--ctl-socket PATH",
                               "vemo-hostd ctl",
                               "--record PATH",
                               "fps=",
                               "source=SOURCE",
                               "image:PATH",
                               "folder@N:PATH",
                               "y4m:PATH",
                               "video:PATH",
                               "url:URI",
                               "webcam:DEVICE",
                               "gst:PIPELINE",
                               "--list-devices",
                               "letterboxed",
                               "--unpaced",
                               "--fault MODE",
                               "--web-port P|off",
                               "--web-listen ADDR",
                               "--web-upload-max MIB",
                               "refuse",
                               "close-after=N",
                               "byte-per-transfer",
                               "stall",
                               "malformed",
                               "busy",
                               "exit-after=N",
                               "freeze-after=N:MS",
                               "--idle-limit S",
                               "--max-driver-clients N",
                               "--sample-memory MB",
                               "--quiet",
                               "--verbose",
                               "--help"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace host
}  // namespace vemo
