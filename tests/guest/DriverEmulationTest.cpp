// The guest-driver emulation linked into this program: open("/dev/vboxguest") and ioctl on the
// descriptor, against a fake endpoint that checks the wire byte by byte.

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <vbox/VBoxGuest.h>
#include <vemo/hgcm_wire.h>

#include "FakeEndpoint.h"
#include "support/LittleEndian.h"

extern "C" int __open_2(const char* path, int flags);
extern "C" int __open64_2(const char* path, int flags);
extern "C" int __openat_2(int dirfd, const char* path, int flags);
extern "C" int __openat64_2(int dirfd, const char* path, int flags);

namespace vemo {
namespace test {

namespace {

const char kDevice[] = "/dev/vboxguest";
const unsigned kSlots = 40;

// A call request with room for kSlots parameters; the number names the room that slots take.
struct CallRequest {
    VBoxGuestHGCMCallInfo info;
    HGCMFunctionParameter parms[kSlots];
};

class Call {
public:
    Call(uint32_t clientId, uint32_t function) {
        memset(&_request, 0, sizeof(_request));
        _request.info.result = VERR_WRONG_ORDER;
        _request.info.u32ClientID = clientId;
        _request.info.u32Function = function;
    }

    Call& address(const void* data, uint32_t size,
                  HGCMFunctionParameterType type = VMMDevHGCMParmType_LinAddr) {
        HGCMFunctionParameter& parm = next(type);
        parm.u.Pointer.size = size;
        parm.u.Pointer.u.linearAddr = reinterpret_cast<uintptr_t>(data);
        return *this;
    }
    Call& value32(uint32_t value) {
        next(VMMDevHGCMParmType_32bit).u.value32 = value;
        return *this;
    }
    Call& value64(uint64_t value) {
        next(VMMDevHGCMParmType_64bit).u.value64 = value;
        return *this;
    }

    unsigned long number(unsigned slots) const {
        return VBOXGUEST_IOCTL_HGCM_CALL(sizeof(VBoxGuestHGCMCallInfo) +
                                         slots * sizeof(HGCMFunctionParameter));
    }
    // Makes the call with room for exactly its parameters; 0 or the errno value.
    int make(int fd) { return makeWith(fd, number(_request.info.cParms)); }
    int makeWith(int fd, unsigned long requestNumber) {
        return ioctl(fd, requestNumber, &_request) == 0 ? 0 : errno;
    }

    CallRequest& request() { return _request; }
    int32_t result() const { return _request.info.result; }

private:
    HGCMFunctionParameter& next(HGCMFunctionParameterType type) {
        HGCMFunctionParameter& parm = _request.parms[_request.info.cParms++];
        parm.type = type;
        return parm;
    }

    CallRequest _request;
};

VBoxGuestHGCMConnectInfo connectRequest(const char* service) {
    VBoxGuestHGCMConnectInfo request;
    memset(&request, 0, sizeof(request));
    request.result = VERR_WRONG_ORDER;
    request.Loc.type = VMMDevHGCMLoc_LocalHost_Existing;
    strcpy(request.Loc.u.host.achName, service);
    request.u32ClientID = 0xFFFFFFFF;
    return request;
}

int ioctlError(int fd, unsigned long number, void* request) {
    return ioctl(fd, number, request) == 0 ? 0 : errno;
}

class DriverEmulation : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv(VEMO_HGCM_SOCKET_ENV);
        unsetenv("VEMO_HGCM_TIMEOUT_MS");
    }

    static int openDriver(const FakeEndpoint& endpoint) {
        setenv(VEMO_HGCM_SOCKET_ENV, endpoint.path().c_str(), 1);
        return open(kDevice, O_RDWR | O_CLOEXEC);
    }
};

TEST_F(DriverEmulation, WithoutEndpointTheDeviceIsMissing) {
    unsetenv(VEMO_HGCM_SOCKET_ENV);
    errno = 0;
    EXPECT_EQ(open(kDevice, O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    // Nor does a path the socket address cannot hold.
    for (const std::string& path :
         {std::string(), std::string("/tmp/vemo-no-such-endpoint/hgcm.sock"),
          "/tmp/" + std::string(200, 'x')}) {
        setenv(VEMO_HGCM_SOCKET_ENV, path.c_str(), 1);
        EXPECT_EQ(open(kDevice, O_RDWR), -1) << path;
        EXPECT_EQ(errno, ENOENT);
    }
}

// Every name the C library's open goes by, fortified or not, reaches the endpoint.
TEST_F(DriverEmulation, EveryOpenEntryPointReachesTheEndpoint) {
    FakeEndpoint endpoint([](EndpointPeer& peer) { peer.atEnd(); }, 8);
    setenv(VEMO_HGCM_SOCKET_ENV, endpoint.path().c_str(), 1);
    const std::vector<int> fds = {
        open(kDevice, O_RDWR),
        open64(kDevice, O_RDWR),
        openat(AT_FDCWD, kDevice, O_RDWR),
        openat64(AT_FDCWD, kDevice, O_RDWR),
        __open_2(kDevice, O_RDWR),
        __open64_2(kDevice, O_RDWR),
        __openat_2(-1, kDevice, O_RDWR),
        __openat64_2(-1, kDevice, O_RDWR),
    };
    for (const int fd : fds) {
        EXPECT_GE(fd, 0);
    }
    for (const int fd : fds) {
        close(fd);
    }
    endpoint.join();
    EXPECT_EQ(endpoint.accepted(), 8);

    // Other paths are the C library's.
    const int null = open("/dev/null", O_RDONLY);
    EXPECT_GE(null, 0);
    close(null);
    EXPECT_EQ(open("/nonexistent/vboxguest", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(DriverEmulation, ConnectAndDisconnectCarryTheirFieldsAndPlaceTheResults) {
    std::vector<GuestMessage> received;
    FakeEndpoint endpoint([&](EndpointPeer& peer) {
        GuestMessage message;
        while (peer.receive(&message)) {
            received.push_back(message);
            const int32_t statuses[] = {0, VEMO_VERR_HGCM_SERVICE_NOT_FOUND,
                                        VEMO_VERR_INVALID_CLIENT_ID};
            const bool disconnect = message.op == VEMO_HGCM_OP_DISCONNECT;
            peer.sendResult(statuses[std::min<size_t>(received.size(), 3) - 1],
                            disconnect ? 0 : 77);
        }
    });
    const int fd = openDriver(endpoint);
    ASSERT_GE(fd, 0);

    VBoxGuestHGCMConnectInfo accepted = connectRequest("VemoVMGuestPropSvc");
    // Bytes past the name's end are the caller's leftovers, not part of the name.
    memset(accepted.Loc.u.host.achName + 19, 'z', 20);
    EXPECT_EQ(ioctlError(fd, VBOXGUEST_IOCTL_HGCM_CONNECT, &accepted), 0);
    EXPECT_EQ(accepted.result, 0);
    EXPECT_EQ(accepted.u32ClientID, 77u);

    // A refused client keeps the caller's client id field.
    VBoxGuestHGCMConnectInfo refused = connectRequest("NoSuchService");
    refused.Loc.type = VMMDevHGCMLoc_LocalHost;
    EXPECT_EQ(ioctlError(fd, VBOXGUEST_IOCTL_HGCM_CONNECT, &refused), 0);
    EXPECT_EQ(refused.result, VEMO_VERR_HGCM_SERVICE_NOT_FOUND);
    EXPECT_EQ(refused.u32ClientID, 0xFFFFFFFFu);

    VBoxGuestHGCMDisconnectInfo disconnect = {VERR_WRONG_ORDER, 77};
    EXPECT_EQ(ioctlError(fd, VBOXGUEST_IOCTL_HGCM_DISCONNECT, &disconnect), 0);
    EXPECT_EQ(disconnect.result, VEMO_VERR_INVALID_CLIENT_ID);
    EXPECT_EQ(disconnect.u32ClientID, 77u);
    close(fd);
    endpoint.join();

    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].op, VEMO_HGCM_OP_CONNECT);
    EXPECT_EQ(received[0].locationType, 2u);
    Bytes name = bytesOf("VemoVMGuestPropSvc");
    name.resize(128, 0);
    EXPECT_EQ(received[0].name, name);
    EXPECT_EQ(received[1].locationType, 1u);
    EXPECT_EQ(received[1].nameText(), "NoSuchService");
    EXPECT_EQ(received[2].op, VEMO_HGCM_OP_DISCONNECT);
    EXPECT_EQ(received[2].clientId, 77u);
}

// Value parameters and small buffers come inline; the host reads a large buffer in pieces.
TEST_F(DriverEmulation, CallCarriesItsHeaderAndEveryParameter) {
    GuestMessage call;
    Bytes fetched;
    std::vector<int32_t> statuses;
    FakeEndpoint endpoint([&](EndpointPeer& peer) {
        if (!peer.receive(&call)) {
            return;
        }
        for (uint32_t at = 0; at < 5000; at += 2500) {
            int32_t status = -1;
            Bytes piece;
            peer.read(4, at, 2500, &status, &piece);
            statuses.push_back(status);
            fetched.insert(fetched.end(), piece.begin(), piece.end());
        }
        peer.sendDone(VEMO_VERR_NOT_SUPPORTED);
        peer.atEnd();
    });
    const int fd = openDriver(endpoint);
    ASSERT_GE(fd, 0);
    const std::string label = "sendData:300";
    Bytes small(VEMO_HGCM_INLINE_LIMIT, 0x5A);
    Bytes large(5000);
    for (size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<unsigned char>(i * 7);
    }
    Call request(9, 10);
    request.value32(0x11223344)
        .value64(0x0102030405060708ULL)
        .address(label.c_str(), static_cast<uint32_t>(label.size() + 1))
        .address(small.data(), static_cast<uint32_t>(small.size()), VMMDevHGCMParmType_LinAddr_In)
        .address(large.data(), static_cast<uint32_t>(large.size()), VMMDevHGCMParmType_LinAddr_Out)
        .address(nullptr, 0);
    EXPECT_EQ(request.make(fd), 0);
    EXPECT_EQ(request.result(), VEMO_VERR_NOT_SUPPORTED);
    close(fd);
    endpoint.join();

    EXPECT_EQ(call.op, VEMO_HGCM_OP_CALL);
    EXPECT_EQ(call.clientId, 9u);
    EXPECT_EQ(call.function, 10u);
    ASSERT_EQ(call.parameters.size(), 6u);
    const std::vector<uint32_t> types = {1, 2, 4, 5, 6, 4};
    const std::vector<uint32_t> sizes = {4, 8, 13, VEMO_HGCM_INLINE_LIMIT, 5000, 0};
    const std::vector<bool> inlined = {true, true, true, true, false, true};
    for (size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(call.parameters[i].type, types[i]) << i;
        EXPECT_EQ(call.parameters[i].size, sizes[i]) << i;
        EXPECT_EQ(call.parameters[i].isInline, inlined[i]) << i;
    }
    EXPECT_EQ(call.parameters[0].bytes, (Bytes{0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(call.parameters[1].bytes, (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(call.parameters[2].bytes, bytesOf(label));
    EXPECT_EQ(call.parameters[3].bytes, small);
    EXPECT_EQ(statuses, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(fetched, large);
}

TEST_F(DriverEmulation, HostReadsAndWritesStayWithinEachParameter) {
    std::vector<int32_t> statuses;
    std::vector<Bytes> reads;
    FakeEndpoint endpoint([&](EndpointPeer& peer) {
        GuestMessage call;
        if (!peer.receive(&call)) {
            return;
        }
        const uint32_t ranges[][3] = {
            {1, 0, 8},           // the whole buffer
            {1, 6, 2},           // its end
            {1, 7, 2},           // one byte past it
            {1, 0xFFFFFFFF, 2},  // an offset that wraps
            {3, 0, 1},           // no such parameter
            {0, 0, 4},           // the value
        };
        for (const auto& range : ranges) {
            int32_t status = 0;
            Bytes bytes;
            peer.read(range[0], range[1], range[2], &status, &bytes);
            statuses.push_back(status);
            reads.push_back(bytes);
        }
        peer.sendWrite(1, 2, {0xA1, 0xA2});              // inside
        peer.sendWrite(1, 7, {0xB1, 0xB2});              // past the end: dropped
        peer.sendWrite(1, 0xFFFFFFFF, {0xC1, 0xC2});     // wraps: dropped
        peer.sendWrite(2, 0, {0xD1});                    // input only: dropped
        peer.sendWrite(5, 0, {0xE1});                    // no such parameter: dropped
        peer.sendWrite(0, 0, {0x78, 0x56, 0x34, 0x12});  // the value itself
        peer.sendDone(0);
        peer.atEnd();
    });
    const int fd = openDriver(endpoint);
    ASSERT_GE(fd, 0);
    unsigned char buffer[10] = {1, 2, 3, 4, 5, 6, 7, 8, 0xEE, 0xEE};
    unsigned char input[1] = {9};
    Call request(1, 7);
    request.value32(0xCAFEF00D).address(buffer, 8).address(input, 1, VMMDevHGCMParmType_LinAddr_In);
    EXPECT_EQ(request.make(fd), 0);
    EXPECT_EQ(request.result(), 0);
    close(fd);
    endpoint.join();

    EXPECT_EQ(statuses, (std::vector<int32_t>{0, 0, -1, -1, -1, 0}));
    ASSERT_EQ(reads.size(), 6u);
    EXPECT_EQ(reads[0], (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(reads[1], (Bytes{7, 8}));
    EXPECT_EQ(reads[5], (Bytes{0x0D, 0xF0, 0xFE, 0xCA}));
    const unsigned char expected[10] = {1, 2, 0xA1, 0xA2, 5, 6, 7, 8, 0xEE, 0xEE};
    EXPECT_EQ(memcmp(buffer, expected, sizeof(buffer)), 0);
    EXPECT_EQ(input[0], 9);
    EXPECT_EQ(request.request().parms[0].u.value32, 0x12345678u);
}

// The host's messages as one transfer, cut into pieces of 7 bytes, and with the next message
// before a large WRITE's end: what the guest's memory gets and the results stay the same.
TEST_F(DriverEmulation, HostMessagesAreTakenWhateverTheirTransfers) {
    Bytes large(40000);
    for (size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<unsigned char>(i * 13 + 1);
    }
    const auto answer = [&large](uint32_t round) {
        const auto write = [](uint32_t index, uint32_t offset, const Bytes& data) {
            return concat(
                {le32Words({0x82u, index, offset, static_cast<uint32_t>(data.size())}), data});
        };
        return concat({write(0, 0, {static_cast<unsigned char>(round), 2, 3, 4}),
                       write(1, 20000, Bytes(30000, 0xEE)),  // past the end of parameter 1
                       write(1, 8, large), write(0, 4, {9, 9}), le32Words({0x83, 100 + round})});
    };
    FakeEndpoint endpoint([&](EndpointPeer& peer) {
        GuestMessage call;
        for (uint32_t round = 0; round < 3 && peer.receive(&call); ++round) {
            const Bytes bytes = answer(round);
            const size_t piece = round == 1 ? 7 : bytes.size();
            for (size_t at = 0; at < bytes.size(); at += piece) {
                const size_t end = std::min(bytes.size(), at + piece);
                peer.sendRaw(Bytes(bytes.begin() + at, bytes.begin() + end));
            }
        }
        peer.atEnd();
    });
    const int fd = openDriver(endpoint);
    ASSERT_GE(fd, 0);
    for (uint32_t round = 0; round < 3; ++round) {
        unsigned char small[8] = {};
        Bytes big(8 + large.size() + 8, 0);
        Call request(1, 10);
        request.address(small, sizeof(small)).address(big.data(), 8 + large.size());
        EXPECT_EQ(request.make(fd), 0) << round;
        EXPECT_EQ(request.result(), static_cast<int32_t>(100 + round));
        const unsigned char expected[8] = {static_cast<unsigned char>(round), 2, 3, 4, 9, 9, 0, 0};
        EXPECT_EQ(memcmp(small, expected, sizeof(small)), 0) << round;
        EXPECT_TRUE(std::equal(large.begin(), large.end(), big.begin() + 8)) << round;
        EXPECT_EQ(big[0], 0);
        EXPECT_EQ(big[8 + large.size()], 0);
    }
    close(fd);
    endpoint.join();
}

TEST_F(DriverEmulation, MalformedRequestsFailWithEinvalAndSendNothing) {
    std::vector<GuestMessage> received;
    FakeEndpoint endpoint([&](EndpointPeer& peer) {
        GuestMessage message;
        while (peer.receive(&message)) {
            received.push_back(message);
            peer.sendDone(0);
        }
    });
    const int fd = openDriver(endpoint);
    ASSERT_GE(fd, 0);
    unsigned char byte = 0;

    Call valid(1, 9);
    valid.address(&byte, 1).address(&byte, 1);
    const unsigned long rw = _IOC_READ | _IOC_WRITE;
    const unsigned long otherWidth = _IOC(rw, 'V', 18 | (128 - VBOXGUEST_IOCTL_FLAG), 48);
    const std::vector<unsigned long> wrongNumbers = {
        valid.number(1),                               // room for fewer parameters
        VBOXGUEST_IOCTL_HGCM_CALL(8),                  // not even a header
        otherWidth,                                    // the other word size's call
        _IOC(rw, 'W', 18 | VBOXGUEST_IOCTL_FLAG, 48),  // another driver's type
        _IOC(_IOC_READ, 'V', 18 | VBOXGUEST_IOCTL_FLAG, 48),
        _IOC(rw, 'V', 19 | VBOXGUEST_IOCTL_FLAG, 48),  // a request the emulation lacks
        VBOXGUEST_IOCTL_CODE(16, 136),                 // connect with another size
        FIONREAD,
    };
    for (const unsigned long number : wrongNumbers) {
        EXPECT_EQ(valid.makeWith(fd, number), EINVAL) << std::hex << number;
    }

    Call tooMany(1, 9);
    for (unsigned i = 0; i <= VEMO_HGCM_MAX_PARMS; ++i) {
        tooMany.value32(i);
    }
    EXPECT_EQ(tooMany.makeWith(fd, tooMany.number(kSlots)), EINVAL);
    Call physical(1, 9);
    physical.address(&byte, 1, VMMDevHGCMParmType_PhysAddr);
    EXPECT_EQ(physical.make(fd), EINVAL);
    Call pageList(1, 9);
    pageList.address(&byte, 1, static_cast<HGCMFunctionParameterType>(10));
    EXPECT_EQ(pageList.make(fd), EINVAL);
    Call huge(1, 9);
    huge.address(&byte, VEMO_HGCM_MAX_PARM_SIZE + 1);
    EXPECT_EQ(huge.make(fd), EINVAL);
    Call nowhere(1, 9);
    nowhere.address(nullptr, 1);
    EXPECT_EQ(nowhere.make(fd), EINVAL);

    VBoxGuestHGCMConnectInfo unterminated = connectRequest("x");
    memset(unterminated.Loc.u.host.achName, 'n', sizeof(unterminated.Loc.u.host.achName));
    EXPECT_EQ(ioctlError(fd, VBOXGUEST_IOCTL_HGCM_CONNECT, &unterminated), EINVAL);
    EXPECT_EQ(unterminated.result, VERR_WRONG_ORDER);
    EXPECT_EQ(ioctlError(fd, VBOXGUEST_IOCTL_HGCM_CONNECT, nullptr), EFAULT);

    // The request numbers that were refused left the wire as it was: the valid call is the
    // first message the host sees.
    EXPECT_EQ(valid.make(fd), 0);
    close(fd);
    endpoint.join();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].function, 9u);
    EXPECT_EQ(received[0].parameters.size(), 2u);
}

TEST_F(DriverEmulation, BrokenEndpointFailsWithEioFromThenOn) {
    // One endpoint per way of breaking: hanging up mid-call, an op the wire lacks, a WRITE
    // longer than any parameter, a RESULT where a call's answer belongs, and silence.
    const std::vector<FakeEndpoint::Script> breakages = {
        [](EndpointPeer&) {},
        [](EndpointPeer& peer) {
            peer.sendRaw({0x99, 0, 0, 0, 0, 0, 0, 0});
        },
        [](EndpointPeer& peer) {
            peer.sendRaw({0x82, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 9});
        },
        [](EndpointPeer& peer) { peer.sendResult(0, 1); },
        [](EndpointPeer& peer) { peer.atEnd(); },
    };
    setenv("VEMO_HGCM_TIMEOUT_MS", "200", 1);
    for (size_t i = 0; i < breakages.size(); ++i) {
        const FakeEndpoint::Script breakage = breakages[i];
        std::atomic<int> calls{0};
        FakeEndpoint endpoint([&](EndpointPeer& peer) {
            GuestMessage message;
            while (peer.receive(&message)) {
                ++calls;
                breakage(peer);
                if (i != 4) {
                    return;
                }
            }
        });
        const int fd = openDriver(endpoint);
        ASSERT_GE(fd, 0);
        unsigned char buffer[4] = {};
        Call request(1, 10);
        request.address(buffer, sizeof(buffer));
        EXPECT_EQ(request.make(fd), EIO) << i;
        EXPECT_EQ(request.result(), VERR_WRONG_ORDER) << i;
        VBoxGuestHGCMConnectInfo connect = connectRequest("VemoVMGuestPropSvc");
        EXPECT_EQ(ioctlError(fd, VBOXGUEST_IOCTL_HGCM_CONNECT, &connect), EIO) << i;
        close(fd);
        endpoint.join();
        EXPECT_EQ(calls.load(), 1) << i;
    }
}

// Copies share the driver handle; a number that stops being the driver, closed through any
// call, is the C library's again.
TEST_F(DriverEmulation, DescriptorNumbersFollowTheirFiles) {
    std::atomic<int> connects{0};
    FakeEndpoint endpoint(
        [&](EndpointPeer& peer) {
            GuestMessage message;
            while (peer.receive(&message)) {
                ++connects;
                peer.sendResult(0, 5);
            }
        },
        3);
    VBoxGuestHGCMConnectInfo connect = connectRequest("VemoVMGuestPropSvc");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);

    // Each handle is in use before it goes, so that the endpoint has taken its connection and
    // no thread of this process opens anything while a number is free.
    // close, then the number taken by a pipe.
    const int closed = openDriver(endpoint);
    ASSERT_GE(closed, 0);
    EXPECT_EQ(ioctlError(closed, VBOXGUEST_IOCTL_HGCM_CONNECT, &connect), 0);
    close(closed);
    ASSERT_EQ(dup2(ends[0], closed), closed);
    EXPECT_EQ(ioctlError(closed, VBOXGUEST_IOCTL_HGCM_CONNECT, &connect), ENOTTY);
    close(closed);

    // closed by the kernel's call directly, behind the emulation's back.
    const int hidden = openDriver(endpoint);
    ASSERT_GE(hidden, 0);
    EXPECT_EQ(ioctlError(hidden, VBOXGUEST_IOCTL_HGCM_CONNECT, &connect), 0);
    ASSERT_EQ(syscall(SYS_close, hidden), 0);
    ASSERT_EQ(syscall(SYS_dup3, ends[0], hidden, 0), hidden);
    EXPECT_EQ(ioctlError(hidden, VBOXGUEST_IOCTL_HGCM_CONNECT, &connect), ENOTTY);
    close(hidden);

    // copies work after the original is gone; dup2 over a copy ends it.
    const int original = openDriver(endpoint);
    ASSERT_GE(original, 0);
    const int copy = dup(original);
    const int copy3 = dup3(original, 200, O_CLOEXEC);
    ASSERT_EQ(copy3, 200);
    close(original);
    EXPECT_EQ(ioctlError(copy, VBOXGUEST_IOCTL_HGCM_CONNECT, &connect), 0);
    EXPECT_EQ(connect.u32ClientID, 5u);
    ASSERT_EQ(dup2(ends[0], copy), copy);
    EXPECT_EQ(ioctlError(copy, VBOXGUEST_IOCTL_HGCM_CONNECT, &connect), ENOTTY);
    EXPECT_EQ(ioctlError(copy3, VBOXGUEST_IOCTL_HGCM_CONNECT, &connect), 0);
    close(copy);
    close(copy3);
    close(ends[0]);
    close(ends[1]);
    endpoint.join();
    EXPECT_EQ(connects.load(), 4);
}

// Threads share one descriptor and use another at the same time. A call's answer echoes its
// own bytes, so an exchange mixed up with another one shows.
TEST_F(DriverEmulation, CallsOnOneDescriptorFollowOneAnother) {
    const auto echo = [](EndpointPeer& peer) {
        GuestMessage call;
        while (peer.receive(&call)) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (!peer.sendWrite(1, 0, call.parameters[0].bytes) ||
                !peer.sendDone(static_cast<int32_t>(call.function))) {
                return;
            }
        }
    };
    FakeEndpoint endpoint(echo, 2);
    const int shared = openDriver(endpoint);
    const int other = openDriver(endpoint);
    ASSERT_GE(shared, 0);
    ASSERT_GE(other, 0);
    const int kCalls = 100;
    std::atomic<int> failures{0};
    const auto run = [&](int fd, uint32_t tag) {
        for (int i = 0; i < kCalls; ++i) {
            uint32_t sent[64];
            uint32_t back[64] = {};
            for (uint32_t& word : sent) {
                word = tag * 100000 + static_cast<uint32_t>(i);
            }
            Call request(tag, tag);
            request.address(sent, sizeof(sent)).address(back, sizeof(back));
            if (request.make(fd) != 0 || request.result() != static_cast<int32_t>(tag) ||
                memcmp(sent, back, sizeof(sent)) != 0) {
                ++failures;
            }
        }
    };
    std::vector<std::thread> threads;
    for (uint32_t tag = 1; tag <= 3; ++tag) {
        threads.emplace_back(run, shared, tag);
    }
    threads.emplace_back(run, other, 4);
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    close(shared);
    close(other);
}

}  // namespace

}  // namespace test
}  // namespace vemo
