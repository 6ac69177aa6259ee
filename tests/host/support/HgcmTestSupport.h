#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "CameraService.h"
#include "ClientTable.h"
#include "ControlPort.h"
#include "CtlCommands.h"
#include "CtlServer.h"
#include "HgcmEndpoint.h"
#include "HgcmService.h"
#include "HostState.h"
#include "HostTestSupport.h"
#include "support/TempFolder.h"

namespace vemo {
namespace host {
namespace test {

// Guest memory that one call parameter describes; the host's WRITEs land in bytes.
struct GuestParam {
    uint32_t type = 4;  // VMMDevHGCMParmType_LinAddr
    std::vector<uint8_t> bytes;

    static GuestParam text(std::string_view text);
    static GuestParam data(std::vector<uint8_t> bytes) { return {4, std::move(bytes)}; }
    static GuestParam u32(uint32_t value);  // a 32-bit value parameter
};

// The guest's end of one driver handle, speaking vemo/hgcm_wire.h on its own. Every receive
// gives up after five seconds, so no test hangs on the host.
class HgcmTestClient {
public:
    // Result of a call when the connection broke or the host left the wire.
    static constexpr int32_t kBroken = INT32_MIN;

    ~HgcmTestClient();

    bool open(const std::string& path);
    // CONNECT: the status, and *clientId as the RESULT has it.
    int32_t connect(std::string_view service, uint32_t* clientId, uint32_t location = 2);
    int32_t disconnect(uint32_t clientId);
    // CALL: answers the host's READs from params (with -1 when refuseReads), applies its WRITEs
    // and returns the DONE result. Parameters up to the inline limit travel inline.
    int32_t call(uint32_t clientId, uint32_t function, std::vector<GuestParam>* params,
                 bool refuseReads = false);
    // How many READs the last call answered.
    int reads() const { return _reads; }
    // The CALL message that call() sends.
    static std::vector<uint8_t> callMessage(uint32_t clientId, uint32_t function,
                                            const std::vector<GuestParam>& params);

    // Call 9 with the bytes.
    int32_t sendData(uint32_t clientId, const std::vector<uint8_t>& bytes);
    // Call 10 asking for up to n bytes: *count as the host wrote it, *bytes what followed.
    int32_t recvData(uint32_t clientId, uint32_t n, int32_t* count, std::vector<uint8_t>* bytes);
    // n reply bytes read with call 10 as the guest does, asking for what is left each time;
    // nothing when a call fails or gives a negative count. *calls counts the calls.
    std::optional<std::vector<uint8_t>> readFully(uint32_t clientId, uint32_t n, int* calls);

    bool sendRaw(const std::vector<uint8_t>& bytes);
    void shutdownWrite();
    // True when the host closes the connection; what it sends before is skipped.
    bool waitForClose();

private:
    bool receive(void* dst, size_t size);

    int _fd = -1;
    int _reads = 0;
};

// A 13-byte control record.
std::vector<uint8_t> controlRecord(uint8_t command, uint64_t clientId, uint32_t argument);

// vemo-hostd's services in this process on free loopback ports, the endpoint, the control
// socket and the record file in a private directory.
class HostRig {
public:
    explicit HostRig(HostFaults faults = {});
    // A host with two cameras and the configuration's faults and limits.
    explicit HostRig(const HostConfig& configuration);
    ~HostRig();

    // What vemo-hostd does on SIGTERM; the destructor does it too.
    void stop();
    std::vector<std::string> recordLines() const;

    HostConfig config;
    HostState state{config};
    ClientTable clients{state};
    HgcmService hgcm{state, clients};
    CameraService camera{state};
    ControlPort control{state, clients};
    HgcmEndpoint endpoint{hgcm, config.limits.idleLimitMs};
    CtlCommands ctlCommands{{state, clients, camera}};
    CtlServer ctl{ctlCommands};
    vemo::test::TempFolder directory;
    std::string socketPath;
    std::string ctlPath;
    bool started = false;
};

// An open camera as the module holds one: an HGCM client of a driver handle, paired through a
// control socket with a camera session.
class TestCamera {
public:
    // Connects and opens; *ok says whether every step worked.
    TestCamera(HostRig& rig, bool* ok);

    // One request packet out with call 9, its reply packet back with call 10.
    std::optional<Message> call(const Message& request);
    // __initThis of "CameraDevice"; true on a well-formed answer.
    bool init();
    // The module's close after "__deleteThis": close record, call 8, disconnect.
    bool close();

    HgcmTestClient driver;
    TestClient control;
    uint32_t id = 0;
};

// A host of this process for each test, with its log captured.
class HostRigTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(_rig.started); }
    // A camera whose every step of opening worked, its instance made and, given ix, that camera
    // selected.
    std::unique_ptr<TestCamera> openCamera(std::optional<uint32_t> ix = std::nullopt);

    HostLogCapture _log;
    HostRig _rig;
};

// The request packet (length and flattened message).
std::vector<uint8_t> packetOf(const Message& message);
// The reply packet to getNumCameras of a two-camera host.
std::vector<uint8_t> twoCamerasReply();

}  // namespace test
}  // namespace host
}  // namespace vemo
