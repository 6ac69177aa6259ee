#include "HgcmTestSupport.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vemo/hgcm_wire.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "support/LittleEndian.h"

namespace vemo {
namespace host {
namespace test {

using vemo::test::appendLe32;
using vemo::test::le32Words;
using vemo::test::loadLe32;

GuestParam GuestParam::text(std::string_view text) {
    GuestParam param = data(std::vector<uint8_t>(text.begin(), text.end()));
    param.bytes.push_back(0);
    return param;
}

GuestParam GuestParam::u32(uint32_t value) {
    return {1, le32Words({value})};
}

HgcmTestClient::~HgcmTestClient() {
    ::close(_fd);
}

bool HgcmTestClient::open(const std::string& path) {
    _fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval timeout{5, 0};
    setsockopt(_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    setsockopt(_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
    return ::connect(_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
}

bool HgcmTestClient::receive(void* dst, size_t size) {
    uint8_t* out = static_cast<uint8_t*>(dst);
    while (size > 0) {
        const ssize_t n = ::recv(_fd, out, size, 0);
        if (n <= 0 && !(n < 0 && errno == EINTR)) {
            return false;
        }
        out += std::max<ssize_t>(n, 0);
        size -= static_cast<size_t>(std::max<ssize_t>(n, 0));
    }
    return true;
}

bool HgcmTestClient::sendRaw(const std::vector<uint8_t>& bytes) {
    return ::send(_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

void HgcmTestClient::shutdownWrite() {
    ::shutdown(_fd, SHUT_WR);
}

bool HgcmTestClient::waitForClose() {
    uint8_t skipped[256];
    for (int i = 0; i < 4096; ++i) {
        const ssize_t n = ::recv(_fd, skipped, sizeof(skipped), 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

int32_t HgcmTestClient::connect(std::string_view service, uint32_t* clientId, uint32_t location) {
    std::vector<uint8_t> message = le32Words({VEMO_HGCM_OP_CONNECT, location});
    std::vector<uint8_t> name(128, 0);
    std::copy_n(service.begin(), std::min<size_t>(service.size(), 128), name.begin());
    message.insert(message.end(), name.begin(), name.end());
    uint8_t result[12];
    if (!sendRaw(message) || !receive(result, 12) || loadLe32(result) != VEMO_HGCM_OP_RESULT) {
        return kBroken;
    }
    *clientId = loadLe32(result + 8);
    return static_cast<int32_t>(loadLe32(result + 4));
}

int32_t HgcmTestClient::disconnect(uint32_t clientId) {
    const std::vector<uint8_t> message = le32Words({VEMO_HGCM_OP_DISCONNECT, clientId});
    uint8_t result[12];
    if (!sendRaw(message) || !receive(result, 12) || loadLe32(result) != VEMO_HGCM_OP_RESULT) {
        return kBroken;
    }
    return static_cast<int32_t>(loadLe32(result + 4));
}

std::vector<uint8_t> HgcmTestClient::callMessage(uint32_t clientId, uint32_t function,
                                                 const std::vector<GuestParam>& params) {
    std::vector<uint8_t> message =
        le32Words({VEMO_HGCM_OP_CALL, clientId, function, uint32_t(params.size())});
    for (const GuestParam& param : params) {
        const bool inlined = param.bytes.size() <= VEMO_HGCM_INLINE_LIMIT;
        const std::vector<uint8_t> header =
            le32Words({param.type, uint32_t(param.bytes.size()), uint32_t(inlined)});
        message.insert(message.end(), header.begin(), header.end());
        if (inlined) {
            message.insert(message.end(), param.bytes.begin(), param.bytes.end());
        }
    }
    return message;
}

int32_t HgcmTestClient::call(uint32_t clientId, uint32_t function, std::vector<GuestParam>* params,
                             bool refuseReads) {
    if (!sendRaw(callMessage(clientId, function, *params))) {
        return kBroken;
    }
    _reads = 0;
    // Bounded: a host that never says DONE fails the call.
    for (int step = 0; step < 1000000; ++step) {
        uint8_t head[16];
        if (!receive(head, 8)) {
            return kBroken;
        }
        const uint32_t op = loadLe32(head);
        if (op == VEMO_HGCM_OP_DONE) {
            return static_cast<int32_t>(loadLe32(head + 4));
        }
        if ((op != VEMO_HGCM_OP_READ && op != VEMO_HGCM_OP_WRITE) || !receive(head + 8, 8)) {
            return kBroken;
        }
        const uint32_t ix = loadLe32(head + 4);
        const uint32_t offset = loadLe32(head + 8);
        const uint32_t length = loadLe32(head + 12);
        const bool inRange = ix < params->size() && offset <= (*params)[ix].bytes.size() &&
                             length <= (*params)[ix].bytes.size() - offset;
        std::vector<uint8_t> bytes;
        if (op == VEMO_HGCM_OP_READ) {
            ++_reads;
            appendLe32(&bytes, !refuseReads && inRange ? 0 : 0xFFFFFFFFu);
            if (!refuseReads && inRange) {
                const auto from = (*params)[ix].bytes.begin() + offset;
                bytes.insert(bytes.end(), from, from + length);
            }
            if (!sendRaw(bytes)) {
                return kBroken;
            }
            continue;
        }
        bytes.resize(length);
        if (!receive(bytes.data(), length)) {
            return kBroken;
        }
        if (inRange) {
            std::copy(bytes.begin(), bytes.end(), (*params)[ix].bytes.begin() + offset);
        }
    }
    return kBroken;
}

int32_t HgcmTestClient::sendData(uint32_t clientId, const std::vector<uint8_t>& bytes) {
    std::vector<GuestParam> params = {GuestParam::text("sendData:" + std::to_string(bytes.size())),
                                      GuestParam::data(bytes), GuestParam::text("RDONLYHOST")};
    return call(clientId, HgcmService::kSendData, &params);
}

int32_t HgcmTestClient::recvData(uint32_t clientId, uint32_t n, int32_t* count,
                                 std::vector<uint8_t>* bytes) {
    std::vector<uint8_t> data(n + 4, 0);
    std::fill_n(data.begin(), 4, 0xFF);  // -1, as the guest presets it
    std::vector<GuestParam> params = {GuestParam::text("sendData:" + std::to_string(n) + ":40"),
                                      GuestParam::data(data), GuestParam::text("RDONLYGUEST")};
    const int32_t status = call(clientId, HgcmService::kRecvData, &params);
    const std::vector<uint8_t>& out = params[1].bytes;
    *count = static_cast<int32_t>(loadLe32(out.data()));
    bytes->assign(out.begin() + 4, out.begin() + 4 + std::clamp<int32_t>(*count, 0, n));
    return status;
}

std::optional<std::vector<uint8_t>> HgcmTestClient::readFully(uint32_t clientId, uint32_t n,
                                                              int* calls) {
    std::vector<uint8_t> all;
    for (*calls = 0; all.size() < n && *calls < 100000; ++*calls) {
        int32_t count = 0;
        std::vector<uint8_t> bytes;
        const uint32_t left = n - static_cast<uint32_t>(all.size());
        if (recvData(clientId, left, &count, &bytes) < 0 || count < 0 ||
            static_cast<uint32_t>(count) > left) {
            return std::nullopt;
        }
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all.size() == n ? std::optional(all) : std::nullopt;
}

std::vector<uint8_t> controlRecord(uint8_t command, uint64_t clientId, uint32_t argument) {
    return vemo::test::concat({{command},
                               le32Words({static_cast<uint32_t>(clientId),
                                          static_cast<uint32_t>(clientId >> 32), argument})});
}

namespace {

HostConfig twoCameras(HostFaults faults) {
    HostConfig config = HostConfig::withCameras(2);
    config.faults = faults;
    return config;
}

}  // namespace

HostRig::HostRig(HostFaults faults) : HostRig(twoCameras(faults)) {}

HostRig::HostRig(const HostConfig& configuration)
    : config(configuration),
      socketPath(directory.file("hgcm.sock")),
      ctlPath(directory.file("ctl.sock")) {
    started = !directory.path().empty() && state.record.open(directory.file("record.txt")) == 0 &&
              camera.start("127.0.0.1", 0) == 0 && control.start("127.0.0.1", 0) == 0 &&
              endpoint.start(socketPath) == 0 && ctl.start(ctlPath) == 0;
}

HostRig::~HostRig() {
    stop();
}

void HostRig::stop() {
    state.clock.stop();
    clients.shutdown();
    endpoint.stop();
    ctl.stop();
    control.stop();
    camera.stop();
}

std::vector<std::string> HostRig::recordLines() const {
    std::vector<std::string> lines;
    std::ifstream in(directory.file("record.txt"));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TestCamera::TestCamera(HostRig& rig, bool* ok) {
    *ok = driver.open(rig.socketPath) && driver.connect(HgcmService::kName, &id) == 0 &&
          control.connect(rig.control.port()) && control.sendRaw(controlRecord(1, id, 10072)) &&
          control.receive(4) == std::vector<uint8_t>(4, 0);
}

std::optional<Message> TestCamera::call(const Message& request) {
    int calls = 0;
    std::optional<std::vector<uint8_t>> length;
    std::optional<std::vector<uint8_t>> payload;
    Message reply;
    if (driver.sendData(id, packetOf(request)) != 0 ||
        !(length = driver.readFully(id, 4, &calls)) ||
        !(payload = driver.readFully(id, loadLe32(length->data()), &calls)) ||
        !reply.decode(payload->data(), payload->size()).ok()) {
        return std::nullopt;
    }
    return reply;
}

bool TestCamera::init() {
    const std::optional<Message> reply = call(initRequest());
    return reply && reply->u32("__return") == 0u;
}

std::unique_ptr<TestCamera> HostRigTest::openCamera(std::optional<uint32_t> ix) {
    bool ok = false;
    auto camera = std::make_unique<TestCamera>(_rig, &ok);
    EXPECT_TRUE(ok && camera->init());
    if (ix) {
        const std::optional<Message> selected = camera->call(request("setCameraIx", *ix));
        EXPECT_TRUE(selected && selected->u32("__return") == 0u);
    }
    return camera;
}

bool TestCamera::close() {
    std::vector<GuestParam> name = {GuestParam::text("vemo_shm_99")};
    const bool sent = control.sendRaw(controlRecord(2, id, 0));
    control.close();
    return sent && driver.call(id, HgcmService::kFreeBuffer, &name) == 0 &&
           driver.disconnect(id) == 0;
}

std::vector<uint8_t> packetOf(const Message& message) {
    return test::packetOf(message.encode());
}

std::vector<uint8_t> twoCamerasReply() {
    Message reply;
    reply.set("__return", Value::u32(2));
    return packetOf(reply);
}

}  // namespace test
}  // namespace host
}  // namespace vemo
