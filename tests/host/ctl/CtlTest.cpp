// The control socket: its reply format both ways, the commands against a host's live state, and
// the socket itself.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <random>
#include <regex>
#include <sstream>
#include <thread>
#include <utility>

#include "CtlProtocol.h"
#include "CtlReply.h"
#include "CtlReplyParser.h"
#include "FrameTestSupport.h"
#include "HgcmTestSupport.h"
#include "HostTestSupport.h"
#include "SourceTestSupport.h"
#include "support/Eventually.h"

namespace vemo {
namespace host {
namespace {

using test::describe;
using test::request;
using test::TestCamera;
using test::with;

std::string textOf(const std::vector<CtlReplyParser::Item>& items) {
    std::string text;
    for (const CtlReplyParser::Item& item : items) {
        text += item.isData ? "<" + std::string(item.bytes.begin(), item.bytes.end()) + ">\n"
                            : item.text + "\n";
    }
    return text;
}

CtlReplyParser parse(std::string_view bytes, size_t* used = nullptr) {
    CtlReplyParser parser;
    size_t taken = 0;
    parser.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &taken);
    if (used != nullptr) {
        *used = taken;
    }
    return parser;
}

TEST(CtlReply, EncodesLinesDataAndTheEndLineAndDecodesBackInAnyPieces) {
    CtlReply reply;
    reply.line("size 4x2");
    const auto bytes = std::make_shared<std::string>("a\nb\0c", 5);
    reply.data(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size(), bytes);
    reply.line("tab\there");
    const std::string golden("size 4x2\ndata 5\na\nb\0c\ntab?here\nok\n", 34);
    EXPECT_EQ(reply.encode(), golden);

    // Byte by byte, as a socket may deliver it; what follows the end line is left alone.
    const std::string stream = golden + "ok\n";
    CtlReplyParser parser;
    size_t at = 0;
    while (at < stream.size() && parser.state() == CtlReplyParser::State::kMore) {
        size_t used = 0;
        parser.feed(reinterpret_cast<const uint8_t*>(stream.data()) + at, 1, &used);
        at += used;
    }
    EXPECT_EQ(at, golden.size());
    EXPECT_EQ(parser.state(), CtlReplyParser::State::kDone);
    EXPECT_TRUE(parser.ok());
    EXPECT_EQ(textOf(parser.items()), std::string("size 4x2\n<a\nb\0c>\ntab?here\n", 26));

    // An error drops what came before: the reply is the end line alone.
    reply.fail("no such\nthing");
    EXPECT_EQ(reply.encode(), "error no such?thing\n");
    const CtlReplyParser failed = parse("error no such?thing\n");
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), "no such?thing");
    EXPECT_TRUE(failed.items().empty());

    EXPECT_EQ(ctl::quoted("a \"b\" \\ \x01\xff"), "\"a \\\"b\\\" \\\\ \\x01\\xFF\"");
}

TEST(CtlReplyParser, HostileRepliesBreakOffWithTheReason) {
    const struct {
        std::string bytes;
        const char* problem;
    } cases[] = {
        {"data x\n", "bad data line \"data x\""},
        {"data \n", "bad data line \"data \""},
        {"data 99999999999999999999\n", "bad data line \"data 99999999999999999999\""},
        {"data 536870913\n", "data block of 536870913 bytes, more than 536870912"},
        {"data 2\nabX", "no line break after a data block"},
        {std::string("ok\x01\n", 4), "byte 1 in a text line"},
        {std::string(ctl::kMaxReplyLine + 1, 'a'), "text line longer than 65536 bytes"},
    };
    for (const auto& c : cases) {
        const CtlReplyParser parser = parse(c.bytes);
        EXPECT_EQ(parser.state(), CtlReplyParser::State::kBroken) << c.problem;
        EXPECT_EQ(parser.problem(), c.problem);
    }
    // Cut short is not broken: more may come.
    EXPECT_EQ(parse("data 10\nabc").state(), CtlReplyParser::State::kMore);
    EXPECT_EQ(parse("o").state(), CtlReplyParser::State::kMore);
}

TEST(CtlReplyParser, BitFlipsNeverReadPastTheBytesOrHoard) {
    CtlReply reply;
    reply.line("store 1");
    const auto bytes = std::make_shared<std::vector<uint8_t>>(300, 0x5A);
    reply.data(bytes->data(), bytes->size(), bytes);
    reply.line("timestamp 12");
    const std::string golden = reply.encode();
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::string flipped = golden;
        const size_t bit = random() % (flipped.size() * 8);
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
        size_t used = 0;
        const CtlReplyParser parser = parse(flipped, &used);
        ASSERT_LE(used, flipped.size());
        size_t held = 0;
        for (const CtlReplyParser::Item& item : parser.items()) {
            held += item.text.size() + item.bytes.size();
        }
        ASSERT_LE(held, flipped.size()) << "bit " << bit;
    }
}

// A client of the control socket that speaks the protocol by itself.
class CtlConnection {
public:
    explicit CtlConnection(const std::string& path) {
        _fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval timeout{5, 0};
        setsockopt(_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
        connected = connect(_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
    }
    ~CtlConnection() { close(_fd); }

    bool send(const std::string& bytes) {
        return ::send(_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // The next reply; its state says whether it came whole.
    CtlReplyParser reply() {
        CtlReplyParser parser;
        while (parser.state() == CtlReplyParser::State::kMore) {
            if (_unread.empty()) {
                char buffer[65536];
                const ssize_t n = recv(_fd, buffer, sizeof(buffer), 0);
                if (n <= 0) {
                    break;
                }
                _unread.assign(buffer, static_cast<size_t>(n));
            }
            size_t used = 0;
            parser.feed(reinterpret_cast<const uint8_t*>(_unread.data()), _unread.size(), &used);
            _unread.erase(0, used);
        }
        return parser;
    }
    CtlReplyParser ask(const std::string& line) {
        send(line + "\n");
        return reply();
    }
    bool closedByHost() {
        char c = 0;
        return recv(_fd, &c, 1, 0) == 0;
    }

    bool connected = false;

private:
    int _fd = -1;
    std::string _unread;
};

class HostCtl : public test::HostRigTest {
protected:
    // The reply's lines; "error <message>" when it failed.
    std::string ask(const std::string& line) {
        CtlConnection connection(_rig.ctlPath);
        CtlReplyParser parser = connection.ask(line);
        EXPECT_EQ(parser.state(), CtlReplyParser::State::kDone) << parser.problem();
        return parser.ok() ? textOf(parser.items()) : "error " + parser.error();
    }
};

TEST_F(HostCtl, StatusShowsCamerasConnectionsClientsAndStores) {
    test::TestClient tcp;
    ASSERT_TRUE(tcp.open(_rig.camera.port(), 1));
    std::unique_ptr<TestCamera> camera = openCamera(0);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(camera->call(request("saveFrameToSampleStore")));
    }
    test::HgcmTestClient idle;
    uint32_t idleId = 0;
    ASSERT_TRUE(idle.open(_rig.socketPath));
    ASSERT_EQ(idle.connect(HgcmService::kName, &idleId), 0);

    // Connection ids, ports and driver handles are the process's: \d+ stands for them.
    const uint64_t first = (uint64_t{1} << 32) + 1;
    // Clients come by id, and ids are random.
    std::string firstClient =
        "client " + std::to_string(camera->id) +
        R"( handle=\d+ pairing=open port=10072 unread=0 instance=yes camera=0 store=1 requests=4)";
    std::string secondClient = "client " + std::to_string(idleId) + R"( handle=\d+ pairing=none)";
    if (idleId < camera->id) {
        std::swap(firstClient, secondClient);
    }
    const std::vector<std::string> expected = {
        "host pid=" + std::to_string(getpid()) +
            " cameras=2 connections=1 clients=2 stores=1 samples=2",
        R"(limits idle-limit-ms=10000 max-driver-clients=16 sample-memory=536870912 sample-bytes=\d+)",
        R"re(camera 0 facing=1 orientation=0 fps=30 source="pattern" shows="test pattern" name="Vemo Test Pattern \(back\)")re",
        R"re(camera 1 facing=0 orientation=0 fps=30 source="pattern" shows="test pattern" name="Vemo Test Pattern \(front\)")re",
        R"(connection \d+ peer=127\.0\.0\.1:\d+ instance=yes camera=1 requests=2)",
        firstClient,
        secondClient,
        "store 1 outstanding=2 oldest=" + std::to_string(first) +
            " newest=" + std::to_string(first + 1),
    };
    std::istringstream status(ask("status"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(status, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), expected.size()) << status.str();
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i])))
            << lines[i] << "\n  does not match\n"
            << expected[i];
    }

    // The pairing's unread bytes show while the guest has not read them.
    ASSERT_EQ(camera->driver.sendData(camera->id, test::packetOf(request("getNumCameras"))), 0);
    EXPECT_NE(ask("status").find(" unread=19 "), std::string::npos);
}

TEST_F(HostCtl, SampleReadsBackTheFrameThatWasSavedAndSamplesCountsThem) {
    EXPECT_EQ(ask("samples"), "0\n");
    std::unique_ptr<TestCamera> camera = openCamera(0);
    std::vector<Message> saved;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(camera->call(with(request("captureFrame"), "id", 0)));
        const std::optional<Message> sample = camera->call(request("saveFrameToSampleStore"));
        ASSERT_TRUE(sample);
        saved.push_back(*sample);
    }
    EXPECT_EQ(ask("samples"), "3\n");

    const Message& second = saved[1];
    const uint32_t store = second.u32("sample_store").value_or(0);
    const uint64_t number = test::u64(second, "sample_num");
    const uint64_t timestamp = test::u64(second, "timestamp");
    CtlConnection connection(_rig.ctlPath);
    const CtlReplyParser reply =
        connection.ask("sample " + std::to_string(store) + " " + std::to_string(number));
    ASSERT_TRUE(reply.ok()) << reply.error();
    ASSERT_EQ(reply.items().size(), 6u);
    EXPECT_EQ(textOf({reply.items().begin(), reply.items().begin() + 5}),
              "store " + std::to_string(store) + "\nnumber " + std::to_string(number) +
                  "\nformat yuv420p\nsize 1280x720\ntimestamp " + std::to_string(timestamp) + "\n");
    ASSERT_TRUE(reply.items()[5].isData);
    const std::vector<uint8_t>& bytes = reply.items()[5].bytes;
    EXPECT_EQ(bytes, _rig.state.samples.find(store, number)->bytes);
    // The second capture's picture.
    EXPECT_EQ(test::readCounter(PixelFormat::kYV12, bytes, {1280, 720}), 2u);

    // Released, the sample is gone from the store and from the command.
    ASSERT_EQ(describe(*camera->call(test::releaseRequest(store, number))), "__return=u32:0");
    EXPECT_EQ(ask("samples"), "2\n");
    EXPECT_EQ(
        ask("sample " + std::to_string(store) + " " + std::to_string(number)),
        "error store " + std::to_string(store) + " holds no sample " + std::to_string(number));
}

TEST_F(HostCtl, RequestsThatDoNotFitGetOneLineErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "error empty request; try help"},
        {"   ", "error empty request; try help"},
        {"stat", "error unknown command \"stat\"; try help"},
        {"status now", "error usage: status"},
        {"sample 1", "error usage: sample STORE NUMBER"},
        {"sample 1 2 3", "error usage: sample STORE NUMBER"},
        {"sample -1 2", "error store \"-1\" is not a number"},
        {"sample 4294967296 2", "error store \"4294967296\" is not a number"},
        {"sample 1 0x10", "error sample \"0x10\" is not a number"},
        {"sample  1   2", "error store 1 holds no sample 2"},
        {"source 0", "error usage: source CAMERA SOURCE"},
        {"source 2 pattern", "error no camera \"2\" (this host has 2 cameras, numbered from 0)"},
        {"source x pattern", "error no camera \"x\" (this host has 2 cameras, numbered from 0)"},
        {"source 0 camera:0",
         "error source \"camera:0\": expected pattern, image:PATH, folder:PATH, folder@N:PATH, "
         "y4m:PATH, video:PATH, url:URI, webcam, webcam:DEVICE or gst:PIPELINE"},
        {"source 1 image:/nonexistent/qr.png",
         "error cannot open /nonexistent/qr.png: No such file or directory; camera 1 keeps "
         "pattern"},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(ask(line), expected) << '"' << line << '"';
    }
    // help gives a line a command.
    const std::string help = ask("help");
    for (const char* command : {"\nsamples: ", "\nsample STORE NUMBER: ",
                                "\nsource CAMERA SOURCE: ", "\ndevices: ", "\nhelp: "}) {
        EXPECT_NE(help.find(command), std::string::npos) << command;
    }
    EXPECT_EQ(help.rfind("status: ", 0), 0u);
}

TEST_F(HostCtl, OneConnectionCarriesRequestsInTurnAndUnreadableLinesEndIt) {
    CtlConnection connection(_rig.ctlPath);
    ASSERT_TRUE(connection.connected);
    // Two requests in one write, the second with a carriage return: two replies in order.
    ASSERT_TRUE(connection.send("samples\nbogus\r\n"));
    EXPECT_EQ(textOf(connection.reply().items()), "0\n");
    EXPECT_EQ(connection.reply().error(), "unknown command \"bogus\"; try help");
    EXPECT_TRUE(connection.ask("samples").ok());

    ASSERT_TRUE(connection.send(std::string(ctl::kMaxRequestLine, 's')));
    EXPECT_EQ(connection.reply().error(), "request line longer than 1024 bytes");
    EXPECT_TRUE(connection.closedByHost());

    CtlConnection binary(_rig.ctlPath);
    EXPECT_EQ(binary.ask(std::string("sam\0ples", 8)).error(),
              "request is not a line of printable text");
    EXPECT_TRUE(binary.closedByHost());

    // The longest line that fits is read.
    CtlConnection longest(_rig.ctlPath);
    EXPECT_EQ(longest.ask("samples" + std::string(ctl::kMaxRequestLine - 8, ' ')).error(), "");
}

// What a 640x480 NV21 preview frame shows: "picture <n>" for test::quadrants(..., n), else
// "pattern" or what is wrong with it.
std::string shownBy(const Value* frame) {
    const FrameSize size{640, 480};
    if (frame == nullptr || frame->type() != ValueType::kBuffer ||
        frame->bufferSize() != FrameLayout::of(PixelFormat::kNV21, size).bytes) {
        return "no frame";
    }
    const std::vector<uint8_t> bytes(frame->bufferData(),
                                     frame->bufferData() + frame->bufferSize());
    for (int shift = 0; shift < 4; ++shift) {
        bool all = true;
        for (int i = 0; i < 4; ++i) {
            const auto [x, y] = test::Placement{0, 0, 640, 480}.quadrantCentre(i);
            const test::Yuv got = test::yuvAt(PixelFormat::kNV21, bytes, size, x, y);
            const test::Yuv& want = test::kQuadrants[(i + shift) % 4].yuv;
            all = all &&
                  std::abs(got.y - want.y) + std::abs(got.u - want.u) + std::abs(got.v - want.v) <=
                      12;
        }
        if (all) {
            return "picture " + std::to_string(shift);
        }
    }
    return test::readCounter(PixelFormat::kNV21, bytes, size) ? "pattern" : "another picture";
}

// A guest's preview of camera 0 at 640x480: capture, then fetch the preview frame, until stop
// is set (or for 20 s at most), counting frames. What the frames showed, one entry per run of
// the same.
std::vector<std::string> preview(const std::function<std::optional<Message>(const Message&)>& call,
                                 const std::atomic<bool>& stop, std::atomic<int>* frames) {
    const Message size = with(request("setPreviewSize"), "size", "640x480");
    const Message capture = with(request("captureFrame"), "id", 0);
    const Message fetch = with(request("getFrameContents"), "id", 1);
    std::vector<std::string> runs = {call(size) ? "sized" : "not sized"};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!stop && std::chrono::steady_clock::now() < end) {
        const std::optional<Message> captured = call(capture);
        const std::optional<Message> fetched = call(fetch);
        const std::string shown = !captured || captured->u32("__return") != 0u
                                      ? "capture failed"
                                      : shownBy(fetched ? fetched->find("frame") : nullptr);
        if (runs.back() != shown) {
            runs.push_back(shown);
        }
        ++*frames;
    }
    return runs;
}

TEST_F(HostCtl, SourceSwitchesWhileGuestsPreviewAndARefusedOneChangesNothing) {
    test::TempFolder folder;
    ASSERT_TRUE(test::writePng(folder.file("a.png"), test::quadrants(320, 240, 1)));
    ASSERT_TRUE(test::writeJpeg(folder.file("b.jpg"), test::quadrants(640, 480, 2)));
    // Two instances of camera 0: a guest through the driver and one through the camera port.
    std::unique_ptr<TestCamera> camera = openCamera(0);
    test::TestClient tcp;
    ASSERT_TRUE(tcp.open(_rig.camera.port(), 0));
    std::atomic<bool> stop{false};
    std::atomic<int> frames[2] = {{0}, {0}};
    auto overDriver = std::async(
        std::launch::async, preview, [&](const Message& m) { return camera->call(m); },
        std::cref(stop), &frames[0]);
    auto overTcp = std::async(
        std::launch::async, preview, [&](const Message& m) { return tcp.call(m); }, std::cref(stop),
        &frames[1]);
    // Each source shows in a few frames of both streams before the next is chosen.
    const auto someFrames = [&] {
        const int after[2] = {frames[0] + 5, frames[1] + 5};
        vemo::test::eventually([&] { return frames[0] >= after[0] && frames[1] >= after[1]; });
    };
    const std::string a = "image:" + folder.file("a.png");
    for (const std::string& choice :
         {a, "image:" + folder.file("b.jpg"), std::string("pattern"), a}) {
        someFrames();
        const std::string reply = ask("source 0 " + choice);
        EXPECT_EQ(reply.substr(0, 17 + choice.size()), "camera 0 source=\"" + choice) << reply;
    }
    someFrames();
    // The cameras' lines of the status; the rest moves with the previews.
    const auto cameras = [&] {
        const std::string status = ask("status");
        const size_t begin = status.find("\ncamera 0");
        return status.substr(begin, status.find("\nconnection") - begin);
    };
    const std::string before = cameras();
    EXPECT_EQ(ask("source 0 image:" + folder.file("none.png")),
              "error cannot open " + folder.file("none.png") +
                  ": No such file or directory; camera 0 keeps " + a);
    EXPECT_EQ(cameras(), before);
    someFrames();
    stop = true;
    const std::vector<std::string> expected = {"sized",     "pattern", "picture 1",
                                               "picture 2", "pattern", "picture 1"};
    EXPECT_EQ(overDriver.get(), expected);
    EXPECT_EQ(overTcp.get(), expected);
    EXPECT_NE(before.find("camera 0 facing=1 orientation=0 fps=30 source=\"" + a +
                          "\" shows=\"picture 320x240\""),
              std::string::npos);
}

}  // namespace
}  // namespace host
}  // namespace vemo
