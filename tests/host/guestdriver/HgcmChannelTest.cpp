// The host's end of the guest-driver wire on its own: a channel over a socket pair, a service
// that scripts what a call does with the guest's memory, and a guest that reads the host's
// messages byte by byte.

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vemo/hgcm_wire.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <numeric>
#include <thread>

#include "HgcmChannel.h"
#include "HgcmTestSupport.h"
#include "support/Eventually.h"
#include "support/LittleEndian.h"

namespace vemo {
namespace host {
namespace {

using test::GuestParam;
using test::HgcmTestClient;
using vemo::test::le32Words;
using vemo::test::loadLe32;

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

// Every call runs the script; connects succeed with client id 1.
class ScriptedService : public IHgcmService {
public:
    std::function<int32_t(HgcmCall&)> script;

    int32_t connect(unsigned, uint32_t, std::string_view, uint32_t* clientId) override {
        *clientId = 1;
        return VEMO_VINF_SUCCESS;
    }
    int32_t disconnect(unsigned, uint32_t) override { return VEMO_VINF_SUCCESS; }
    int32_t call(unsigned, HgcmCall& call) override { return script(call); }
    void handleClosed(unsigned) override {}
};

// One host message as the guest reads it; data holds a WRITE's bytes.
struct HostMessage {
    uint32_t op = 0;
    uint32_t index = 0;  // READ, WRITE; the result for DONE
    uint32_t offset = 0;
    uint32_t length = 0;
    std::vector<uint8_t> data;
};

class HgcmChannelWire : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        _host = fds[0];
        _guest = fds[1];
        const timeval timeout{5, 0};
        setsockopt(_guest, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        _thread = std::thread([this] { HgcmChannel(_host, 7, _service).run(); });
    }

    void TearDown() override {
        shutdown(_guest, SHUT_RDWR);
        if (_thread.joinable()) {
            _thread.join();
        }
        close(_guest);
        close(_host);
    }

    bool send(const std::vector<uint8_t>& bytes) {
        return ::send(_guest, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    bool receive(void* dst, size_t size) {
        auto* out = static_cast<uint8_t*>(dst);
        while (size > 0) {
            const ssize_t n = ::recv(_guest, out, size, 0);
            if (n <= 0) {
                return false;
            }
            out += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    // The next host message of a call; op 0 when the stream breaks.
    HostMessage next() {
        HostMessage message;
        uint8_t head[16];
        if (!receive(head, 8)) {
            return message;
        }
        message.op = loadLe32(head);
        message.index = loadLe32(head + 4);
        if (message.op == VEMO_HGCM_OP_DONE) {
            return message;
        }
        if (!receive(head + 8, 8)) {
            return HostMessage();
        }
        message.offset = loadLe32(head + 8);
        message.length = loadLe32(head + 12);
        if (message.op == VEMO_HGCM_OP_WRITE) {
            message.data.resize(message.length);
            if (!receive(message.data.data(), message.length)) {
                return HostMessage();
            }
        }
        return message;
    }

    // What one recv takes once the host's answer has begun to arrive.
    std::vector<uint8_t> oneTransfer() {
        pollfd ready{_guest, POLLIN, 0};
        std::vector<uint8_t> bytes(1 << 20);
        if (poll(&ready, 1, 5000) != 1) {
            return {};
        }
        const ssize_t n = ::recv(_guest, bytes.data(), bytes.size(), 0);
        bytes.resize(static_cast<size_t>(std::max<ssize_t>(n, 0)));
        return bytes;
    }

    ScriptedService _service;
    int _host = -1;
    int _guest = -1;
    std::thread _thread;
};

// A call whose parameters lie in the guest's memory: 5000 bytes the host must READ, and 200000
// bytes to write into.
std::vector<uint8_t> callWithLargeParameter1() {
    return HgcmTestClient::callMessage(1, 9,
                                       {GuestParam::data(std::vector<uint8_t>(5000)),
                                        GuestParam::data(std::vector<uint8_t>(200000))});
}

TEST_F(HgcmChannelWire, HeldWritesKeepTheirPlaceBeforeReadsLargeWritesAndDone) {
    const std::vector<uint8_t> large = pattern(100000, 3);
    std::vector<uint8_t> read(4000);
    bool readOk = false;
    _service.script = [&](HgcmCall& call) {
        call.write(1, 0, le32Words({0xA1}).data(), 4);
        readOk = call.read(0, 1000, read.size(), read.data());
        call.write(1, 4, le32Words({0xB2}).data(), 4);
        call.write(1, 8, large.data(), large.size());
        call.write(1, 100008, le32Words({0xC3}).data(), 4);
        return 42;
    };
    ASSERT_TRUE(send(callWithLargeParameter1()));

    HostMessage m = next();
    EXPECT_EQ(m.op, VEMO_HGCM_OP_WRITE);
    EXPECT_EQ(m.offset, 0u);
    EXPECT_EQ(m.data, le32Words({0xA1}));
    m = next();
    ASSERT_EQ(m.op, VEMO_HGCM_OP_READ);
    EXPECT_EQ(m.index, 0u);
    EXPECT_EQ(m.offset, 1000u);
    EXPECT_EQ(m.length, 4000u);
    const std::vector<uint8_t> guestBytes = pattern(4000, 9);
    std::vector<uint8_t> answer = le32Words({0});
    answer.insert(answer.end(), guestBytes.begin(), guestBytes.end());
    ASSERT_TRUE(send(answer));
    for (const auto& [offset, data] : std::vector<std::pair<uint32_t, std::vector<uint8_t>>>{
             {4, le32Words({0xB2})}, {8, large}, {100008, le32Words({0xC3})}}) {
        m = next();
        EXPECT_EQ(m.op, VEMO_HGCM_OP_WRITE);
        EXPECT_EQ(m.index, 1u);
        EXPECT_EQ(m.offset, offset);
        EXPECT_TRUE(m.data == data) << "WRITE at " << offset;
    }
    m = next();
    EXPECT_EQ(m.op, VEMO_HGCM_OP_DONE);
    EXPECT_EQ(m.index, 42u);
    EXPECT_TRUE(readOk);
    EXPECT_EQ(read, guestBytes);
}

TEST_F(HgcmChannelWire, SmallWritesComeInOneTransferWithTheReadOrDoneAfterThem) {
    std::vector<uint8_t> read(16);
    // Pauses let anything sent early arrive on its own.
    _service.script = [&](HgcmCall& call) {
        for (uint32_t i = 0; i < 3; ++i) {
            call.write(1, 4 * i, le32Words({i}).data(), 4);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        call.read(0, 0, read.size(), read.data());
        call.write(1, 12, le32Words({3}).data(), 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return 0;
    };
    ASSERT_TRUE(send(callWithLargeParameter1()));
    const auto writeOf = [](uint32_t i) { return le32Words({VEMO_HGCM_OP_WRITE, 1, 4 * i, 4, i}); };
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 3; ++i) {
        const std::vector<uint8_t> write = writeOf(i);
        expected.insert(expected.end(), write.begin(), write.end());
    }
    const std::vector<uint8_t> request = le32Words({VEMO_HGCM_OP_READ, 0, 0, 16});
    expected.insert(expected.end(), request.begin(), request.end());
    EXPECT_EQ(oneTransfer(), expected);

    std::vector<uint8_t> answer = le32Words({0});
    answer.resize(4 + read.size());
    ASSERT_TRUE(send(answer));
    expected = writeOf(3);
    const std::vector<uint8_t> done = le32Words({VEMO_HGCM_OP_DONE, 0});
    expected.insert(expected.end(), done.begin(), done.end());
    EXPECT_EQ(oneTransfer(), expected);
}

TEST_F(HgcmChannelWire, WritesBeyondWhatIsHeldGoInOrder) {
    // Enough small WRITEs to pass what the host holds back at a time.
    const size_t count = 3 * HgcmCall::kMaxHeld / (16 + HgcmCall::kMaxHeldWrite) + 1;
    const std::vector<uint8_t> piece = pattern(HgcmCall::kMaxHeldWrite, 1);
    _service.script = [&](HgcmCall& call) {
        for (size_t i = 0; i < count; ++i) {
            call.write(1, i, piece.data(), piece.size());
        }
        return 5;
    };
    ASSERT_TRUE(send(callWithLargeParameter1()));
    for (size_t i = 0; i < count; ++i) {
        const HostMessage m = next();
        ASSERT_EQ(m.op, VEMO_HGCM_OP_WRITE) << i;
        EXPECT_EQ(m.offset, i);
        EXPECT_TRUE(m.data == piece) << i;
    }
    EXPECT_EQ(next().op, VEMO_HGCM_OP_DONE);
}

TEST_F(HgcmChannelWire, CallsAreReadWhateverTheirTransfers) {
    uint32_t calls = 0;
    _service.script = [&](HgcmCall& call) {
        uint8_t first = 0;
        call.read(0, 0, 1, &first);
        return static_cast<int32_t>(++calls * 100 + first);
    };
    // One call a byte at a time, then two calls in one transfer; parameter 0 is inline.
    const std::vector<uint8_t> one =
        HgcmTestClient::callMessage(1, 9, {GuestParam::data({7, 8, 9})});
    for (const uint8_t byte : one) {
        ASSERT_TRUE(send({byte}));
    }
    HostMessage m = next();
    EXPECT_EQ(m.op, VEMO_HGCM_OP_DONE);
    EXPECT_EQ(m.index, 107u);
    std::vector<uint8_t> two = one;
    const std::vector<uint8_t> other = HgcmTestClient::callMessage(1, 9, {GuestParam::data({5})});
    two.insert(two.end(), other.begin(), other.end());
    ASSERT_TRUE(send(two));
    EXPECT_EQ(next().index, 207u);
    EXPECT_EQ(next().index, 305u);
}

TEST_F(HgcmChannelWire, HeldWritesThatCannotBeSentEndTheConnection) {
    test::HostLogCapture log;
    _service.script = [&](HgcmCall& call) {
        call.write(1, 0, le32Words({1}).data(), 4);
        // The guest is gone before anything could reach it.
        shutdown(_guest, SHUT_RDWR);
        return 0;
    };
    ASSERT_TRUE(send(callWithLargeParameter1()));
    const std::string line = "hgcm handle 7: closed: DONE not sent: Broken pipe";
    EXPECT_TRUE(vemo::test::eventually([&] { return log.countContaining(line) == 1; }, 5000));
}

}  // namespace
}  // namespace host
}  // namespace vemo
