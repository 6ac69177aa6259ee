// The guest-driver endpoint and the HGCM service, through a real Unix socket and a client that
// speaks the wire on its own.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vemo/hgcm_wire.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <set>

#include "HgcmTestSupport.h"
#include "support/LittleEndian.h"
#include "support/TempFolder.h"

namespace vemo {
namespace host {
namespace {

using test::describe;
using test::GuestParam;
using test::HgcmTestClient;
using test::request;
using test::TestCamera;
using vemo::test::concat;
using vemo::test::le32Words;

using HostHgcm = test::HostRigTest;

TEST_F(HostHgcm, ConnectGivesUniqueIdsForTheServiceOnlyAndClientsBelongToTheirHandle) {
    HgcmTestClient a;
    HgcmTestClient b;
    ASSERT_TRUE(a.open(_rig.socketPath) && b.open(_rig.socketPath));
    std::set<uint32_t> ids;
    uint32_t id = 0;
    for (HgcmTestClient* client : {&a, &b, &a, &b}) {
        ASSERT_EQ(client->connect(HgcmService::kName, &id), VEMO_VINF_SUCCESS);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(ids.count(0), 0u);
    const uint32_t ofB = id;

    EXPECT_EQ(a.connect("VBoxGuestPropSvc", &id), VEMO_VERR_HGCM_SERVICE_NOT_FOUND);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(a.connect(HgcmService::kName, &id, 0), VEMO_VERR_INVALID_PARAMETER);
    std::vector<GuestParam> name = {GuestParam::text("vemo_shm_99")};
    EXPECT_EQ(a.call(ofB, HgcmService::kFreeBuffer, &name), VEMO_VERR_INVALID_CLIENT_ID);
    EXPECT_EQ(a.disconnect(ofB), VEMO_VERR_INVALID_CLIENT_ID);
    EXPECT_EQ(b.disconnect(ofB), VEMO_VINF_SUCCESS);
    EXPECT_EQ(b.disconnect(ofB), VEMO_VERR_INVALID_CLIENT_ID);
}

TEST_F(HostHgcm, RequestStreamIsAssembledWhateverTheTransfers) {
    std::unique_ptr<TestCamera> camera = openCamera();
    // One request in three transfers, then two in one: the replies follow in order.
    const std::vector<uint8_t> count = test::packetOf(request("getNumCameras"));
    const std::vector<uint8_t> facing = test::packetOf(request("getCameraFacing", 1));
    for (const auto& [from, to] : {std::pair<size_t, size_t>{0, 2}, {2, 7}, {7, count.size()}}) {
        ASSERT_EQ(camera->driver.sendData(camera->id, {count.begin() + from, count.begin() + to}),
                  0);
    }
    ASSERT_EQ(camera->driver.sendData(camera->id, concat({count, facing})), 0);
    Message facingReply;
    facingReply.set("__return", Value::u32(0));
    const std::vector<uint8_t> replies =
        concat({test::twoCamerasReply(), test::twoCamerasReply(), test::packetOf(facingReply)});
    int calls = 0;
    EXPECT_EQ(camera->driver.readFully(camera->id, static_cast<uint32_t>(replies.size()), &calls),
              replies);

    // A request too large to travel inline is read from the guest's memory.
    Message big = request("getNumCameras");
    big.set("zpayload", Value::buffer(std::vector<uint8_t>(20000, 0x5A)));
    ASSERT_EQ(camera->driver.sendData(camera->id, test::packetOf(big)), 0);
    EXPECT_GE(camera->driver.reads(), 1);
    EXPECT_EQ(camera->driver.readFully(camera->id, 19, &calls), test::twoCamerasReply());
}

TEST_F(HostHgcm, Call10DeliversAtMostTheLengthAskedAndNoMoreThanIsPending) {
    std::unique_ptr<TestCamera> camera = openCamera();
    const std::vector<uint8_t> expected = test::twoCamerasReply();
    ASSERT_EQ(camera->driver.sendData(camera->id, test::packetOf(request("getNumCameras"))), 0);
    std::vector<uint8_t> got;
    for (int i = 0; i < 20 && got.size() < expected.size(); ++i) {
        int32_t count = 0;
        std::vector<uint8_t> bytes;
        ASSERT_EQ(camera->driver.recvData(camera->id, 3, &count, &bytes), VEMO_VINF_SUCCESS);
        ASSERT_TRUE(count >= 1 && count <= 3) << count;
        got.insert(got.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(got, expected);

    ASSERT_EQ(camera->driver.sendData(camera->id, test::packetOf(request("getNumCameras"))), 0);
    int32_t count = 0;
    ASSERT_EQ(camera->driver.recvData(camera->id, 1000, &count, &got), VEMO_VINF_SUCCESS);
    EXPECT_EQ(got, expected);
}

// Whether the chunks of two takers, each list in the order its taker got them, interleave into
// the stream: every byte handed out once, in order.
bool interleave(const std::vector<uint8_t>& stream, size_t at,
                const std::vector<std::vector<uint8_t>>& a, size_t ia,
                const std::vector<std::vector<uint8_t>>& b, size_t ib) {
    if (ia == a.size() && ib == b.size()) {
        return at == stream.size();
    }
    const auto fits = [&](const std::vector<uint8_t>& chunk) {
        return chunk.size() <= stream.size() - at &&
               std::equal(chunk.begin(), chunk.end(), stream.begin() + at);
    };
    return (ia < a.size() && fits(a[ia]) &&
            interleave(stream, at + a[ia].size(), a, ia + 1, b, ib)) ||
           (ib < b.size() && fits(b[ib]) &&
            interleave(stream, at + b[ib].size(), a, ia, b, ib + 1));
}

TEST_F(HostHgcm, Call10AndControlReadsAtOnceHandOutEveryReplyByteOnceInOrder) {
    std::unique_ptr<TestCamera> camera = openCamera();
    // Forty different replies, queued before anyone reads: errors that name their ix.
    std::vector<uint8_t> requests;
    std::vector<uint8_t> stream;
    for (uint32_t ix = 10; ix < 50; ++ix) {
        const std::vector<uint8_t> packet = test::packetOf(request("getCameraName", ix));
        requests.insert(requests.end(), packet.begin(), packet.end());
        Message reply;
        reply.set("__error", Value::string("getCameraName: camera ix " + std::to_string(ix) +
                                           " out of range (2 cameras)"));
        const std::vector<uint8_t> bytes = test::packetOf(reply);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    ASSERT_EQ(camera->driver.sendData(camera->id, requests), 0);

    constexpr uint32_t kRead = 23;
    constexpr int kReads = 12;
    auto control = std::async(std::launch::async, [&camera] {
        std::vector<std::vector<uint8_t>> chunks;
        for (int i = 0; i < kReads; ++i) {
            std::optional<std::vector<uint8_t>> chunk;
            if (!camera->control.sendRaw(test::controlRecord(3, camera->id, kRead)) ||
                !(chunk = camera->control.receive(kRead))) {
                break;
            }
            chunks.push_back(*chunk);
        }
        return chunks;
    });
    std::vector<std::vector<uint8_t>> calls;
    size_t taken = 0;
    for (int i = 0; i < 1000 && taken < stream.size() - kRead * kReads; ++i) {
        int32_t count = 0;
        std::vector<uint8_t> bytes;
        const size_t left = stream.size() - kRead * kReads - taken;
        ASSERT_EQ(
            camera->driver.recvData(camera->id, static_cast<uint32_t>(std::min<size_t>(left, 50)),
                                    &count, &bytes),
            VEMO_VINF_SUCCESS);
        taken += bytes.size();
        calls.push_back(bytes);
    }
    const std::vector<std::vector<uint8_t>> reads = control.get();
    ASSERT_EQ(reads.size(), static_cast<size_t>(kReads));
    EXPECT_TRUE(interleave(stream, 0, calls, 0, reads, 0));
}

TEST_F(HostHgcm, Call10WaitsForAReplyAndFailsFastOnceNoSessionAnswers) {
    std::unique_ptr<TestCamera> camera = openCamera();
    auto waiting = std::async(std::launch::async, [&camera] {
        int32_t count = 0;
        std::vector<uint8_t> bytes;
        return std::make_pair(camera->driver.recvData(camera->id, 4, &count, &bytes), count);
    });
    ASSERT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    ASSERT_TRUE(camera->control.sendRaw(test::controlRecord(2, camera->id, 0)));
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), std::make_pair(VEMO_VERR_NOT_SUPPORTED, -1));

    // A client that was never opened gets the same answers at once.
    uint32_t id = 0;
    ASSERT_EQ(camera->driver.connect(HgcmService::kName, &id), VEMO_VINF_SUCCESS);
    int32_t count = 0;
    std::vector<uint8_t> bytes;
    EXPECT_EQ(camera->driver.recvData(id, 4, &count, &bytes), VEMO_VERR_NOT_SUPPORTED);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(camera->driver.sendData(id, test::twoCamerasReply()), VEMO_VERR_NOT_SUPPORTED);
}

TEST_F(HostHgcm, MalformedRequestEndsTheSessionAndItsControlSocket) {
    std::unique_ptr<TestCamera> camera = openCamera();
    const auto bad = test::packetOf(test::bytesOf({"__function\0\x05x\0\0", 15}));
    EXPECT_EQ(camera->driver.sendData(camera->id, bad), VEMO_VERR_NOT_SUPPORTED);
    EXPECT_TRUE(camera->control.waitForClose());
    int32_t count = 0;
    std::vector<uint8_t> bytes;
    EXPECT_EQ(camera->driver.recvData(camera->id, 4, &count, &bytes), VEMO_VERR_NOT_SUPPORTED);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(_log.countContaining("closed: bad type code 5 at offset 11"), 1u);
}

TEST_F(HostHgcm, HostBuffersAreWrittenByCall7AndReleasedByCall8OrDisconnect) {
    HgcmTestClient guest;
    uint32_t id = 0;
    ASSERT_TRUE(guest.open(_rig.socketPath));
    ASSERT_EQ(guest.connect(HgcmService::kName, &id), VEMO_VINF_SUCCESS);
    const auto commit = [&](const std::string& label, std::vector<uint8_t> data) {
        std::vector<GuestParam> params = {GuestParam::text(label), GuestParam::data(data),
                                          GuestParam::text("RDONLYHOST")};
        return guest.call(id, HgcmService::kCommitBuffer, &params);
    };
    std::vector<uint8_t> bytes;
    EXPECT_EQ(commit("vemo_shm_99:2", {1, 2, 3}), VEMO_VINF_SUCCESS);
    ASSERT_TRUE(_rig.hgcm.hostBuffer(id, "vemo_shm_99", &bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 0, 1, 2, 3}));
    EXPECT_EQ(commit("vemo_shm_99:67108859", {9}), VEMO_VINF_SUCCESS);
    for (const char* label :
         {"vemo_shm_99:67108858", "vemo_shm_99:67108860", "vemo_shm_99", "vemo_shm_99:1x", ":5"}) {
        EXPECT_EQ(commit(label, {1, 2, 3}), VEMO_VERR_INVALID_PARAMETER) << label;
    }
    for (const char* name : {"a:0", "b:0", "c:0"}) {
        EXPECT_EQ(commit(name, {1}), VEMO_VINF_SUCCESS);
    }
    EXPECT_EQ(commit("one_too_many:0", {1}), VEMO_VERR_NOT_SUPPORTED);

    std::vector<GuestParam> name = {GuestParam::text("vemo_shm_99")};
    EXPECT_EQ(guest.call(id, HgcmService::kFreeBuffer, &name), VEMO_VINF_SUCCESS);
    EXPECT_FALSE(_rig.hgcm.hostBuffer(id, "vemo_shm_99", &bytes));
    EXPECT_EQ(guest.call(id, HgcmService::kFreeBuffer, &name), VEMO_VINF_SUCCESS);
    std::vector<GuestParam> map = {GuestParam::text("mapBuffer"), GuestParam::data({0, 0})};
    EXPECT_EQ(guest.call(id, HgcmService::kMapBuffer, &map), VEMO_VERR_NOT_SUPPORTED);
    EXPECT_EQ(guest.call(id, 42, &map), VEMO_VERR_NOT_SUPPORTED);
    EXPECT_EQ(guest.disconnect(id), VEMO_VINF_SUCCESS);
    EXPECT_FALSE(_rig.hgcm.hostBuffer(id, "a", &bytes));
}

TEST_F(HostHgcm, ParametersThatDoNotFitTheFunctionAreInvalid) {
    std::unique_ptr<TestCamera> camera = openCamera();
    const GuestParam label = GuestParam::text("sendData:4");
    const GuestParam flags = GuestParam::text("RDONLYHOST");
    const struct {
        const char* name;
        uint32_t function;
        std::vector<GuestParam> params;
    } cases[] = {
        {"9 with two parameters", 9, {label, GuestParam::data({1, 2, 3, 4})}},
        {"9 with a value as data", 9, {label, GuestParam::u32(7), flags}},
        {"10 without room for the count", 10, {label, GuestParam::data({0, 0, 0}), flags}},
        {"10 with a label without NUL", 10, {GuestParam::data({'a'}), GuestParam::data({}), flags}},
        {"8 with an empty name", 8, {GuestParam::data({})}},
    };
    for (const auto& c : cases) {
        std::vector<GuestParam> params = c.params;
        EXPECT_EQ(camera->driver.call(camera->id, c.function, &params), VEMO_VERR_INVALID_PARAMETER)
            << c.name;
    }
    // A guest that fails a READ fails the call, not its handle, and the session sees nothing.
    std::vector<GuestParam> params = {GuestParam::text("sendData:5000"),
                                      GuestParam::data(std::vector<uint8_t>(5000)), flags};
    EXPECT_EQ(camera->driver.call(camera->id, HgcmService::kSendData, &params, true),
              VEMO_VERR_INVALID_PARAMETER);
    const std::optional<Message> reply = camera->call(request("getNumCameras"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=u32:2");
}

TEST_F(HostHgcm, DisconnectOrAClosedHandleEndsTheSessionAndClosesTheControlSocket) {
    std::unique_ptr<TestCamera> first = openCamera();
    EXPECT_EQ(first->driver.disconnect(first->id), VEMO_VINF_SUCCESS);
    EXPECT_TRUE(first->control.waitForClose());

    std::unique_ptr<TestCamera> second = openCamera();
    second->driver.shutdownWrite();
    EXPECT_TRUE(second->control.waitForClose());
    EXPECT_EQ(_rig.recordLines().back(), "hgcm drop client=" + std::to_string(second->id));
}

struct HostileInput {
    const char* name;
    std::vector<uint8_t> bytes;  // sent after a CONNECT; then the guest stops writing
    const char* logged;
};

class HostHgcmHostile : public HostHgcm, public ::testing::WithParamInterface<HostileInput> {};

TEST_P(HostHgcmHostile, EndsOnlyThatConnectionWithOneLogLine) {
    std::unique_ptr<TestCamera> bystander = openCamera();
    HgcmTestClient offender;
    uint32_t id = 0;
    ASSERT_TRUE(offender.open(_rig.socketPath));
    ASSERT_EQ(offender.connect(HgcmService::kName, &id), VEMO_VINF_SUCCESS);
    ASSERT_TRUE(offender.sendRaw(GetParam().bytes));
    offender.shutdownWrite();
    EXPECT_TRUE(offender.waitForClose());
    EXPECT_EQ(_log.countContaining(std::string("closed: ") + GetParam().logged), 1u);
    EXPECT_EQ(_rig.recordLines().back(), "hgcm drop client=" + std::to_string(id));

    const std::optional<Message> reply = bystander->call(request("getNumCameras"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=u32:2");
}

// A call of function 8 with one parameter of the given shape.
std::vector<uint8_t> call8(uint32_t type, uint32_t size, uint32_t inlined) {
    return le32Words({VEMO_HGCM_OP_CALL, 1, 8, 1, type, size, inlined});
}

INSTANTIATE_TEST_SUITE_P(
    Wire, HostHgcmHostile,
    ::testing::Values(HostileInput{"UnknownOperation", le32Words({0x81}), "unknown operation 129"},
                      HostileInput{"TooManyParameters", le32Words({VEMO_HGCM_OP_CALL, 1, 9, 33}),
                                   "call with 33 parameters (limit 32)"},
                      HostileInput{"InlineAboveLimit", call8(4, 4097, 1),
                                   "parameter 0: 4097 bytes inline (limit 4096)"},
                      HostileInput{"ValueOfWrongSize", call8(1, 3, 1),
                                   "parameter 0: value of type 1 with size 3"},
                      HostileInput{"SizeAboveLimit", call8(4, 0x08000001, 0),
                                   "parameter 0: size 134217729 above the limit"},
                      HostileInput{"CutInsideConnect",
                                   concat({le32Words({VEMO_HGCM_OP_CONNECT, 2}), {'V'}}),
                                   "connection ended inside CONNECT (5 of 132 bytes)"},
                      HostileInput{"ReadAnsweredWithBadStatus",
                                   concat({call8(4, 5000, 0), le32Words({5})}),
                                   "READ answered with status 5"}),
    [](const ::testing::TestParamInfo<HostileInput>& info) { return info.param.name; });

TEST_F(HostHgcm, BitFlipsInACallEndAtMostTheirOwnConnection) {
    const std::vector<uint8_t> packet = test::packetOf(request("getNumCameras"));
    const std::vector<GuestParam> params = {
        GuestParam::text("sendData:" + std::to_string(packet.size())), GuestParam::data(packet),
        GuestParam::text("RDONLYHOST")};
    const size_t bits = HgcmTestClient::callMessage(0, 9, params).size() * 8;
    for (size_t bit = 0; bit < bits; ++bit) {
        bool ok = false;
        TestCamera camera(_rig, &ok);
        ASSERT_TRUE(ok);
        std::vector<uint8_t> bytes = HgcmTestClient::callMessage(camera.id, 9, params);
        bytes[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        ASSERT_TRUE(camera.driver.sendRaw(bytes));
        camera.driver.shutdownWrite();
        ASSERT_TRUE(camera.driver.waitForClose()) << "bit " << bit;
    }
    std::unique_ptr<TestCamera> camera = openCamera();
    const std::optional<Message> reply = camera->call(request("getNumCameras"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=u32:2");
}

TEST(HostHgcmEndpoint, ReplacesAStaleSocketRefusesALiveOneAndRemovesItsSocket) {
    const vemo::test::TempFolder folder;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = folder.file("hgcm.sock");
    std::strcpy(addr.sun_path, path.c_str());
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(stale, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)), 0);
    close(stale);

    HostConfig config;
    HostState state(config);
    ClientTable clients(state);
    HgcmService service(state, clients);
    HgcmEndpoint endpoint(service, 0);
    HgcmEndpoint second(service, 0);
    ASSERT_EQ(endpoint.start(path), 0);
    EXPECT_EQ(second.start(path), -EADDRINUSE);

    endpoint.stop();
    struct stat info {};
    EXPECT_NE(stat(path.c_str(), &info), 0);
}

}  // namespace
}  // namespace host
}  // namespace vemo
