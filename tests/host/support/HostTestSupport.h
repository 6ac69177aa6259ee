#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Log.h"
#include "Message.h"

namespace vemo {
namespace host {
namespace test {

// Bytes from hex text such as "5F 5F 00".
std::vector<uint8_t> hexBytes(std::string_view hex);
// Bytes of a literal that may hold 0 bytes: bytesOf("a\0\x03"sv).
std::vector<uint8_t> bytesOf(std::string_view text);
// The payload with its 4-byte little-endian length in front.
std::vector<uint8_t> packetOf(const std::vector<uint8_t>& payload);

// A message as one line, e.g. `__return=u32:1 name=str:"x"`, for comparing in assertions.
std::string describe(const Message& message);

Message request(std::string_view function);
Message request(std::string_view function, uint32_t ix);
// __initThis of remoteClass.
Message initRequest(std::string_view remoteClass = "CameraDevice");
// The message with one more entry.
Message with(Message message, std::string_view key, uint32_t value);
Message with(Message message, std::string_view key, std::string_view text);
// releaseOneFrame of sample number of store.
Message releaseRequest(uint32_t store, uint64_t number);
// A 64-bit number sent as name_high and name_low.
uint64_t u64(const Message& message, const std::string& name);

// Collects the host's log lines (debug included) while it exists, each as "<E|W|I|D> <message>".
// One at a time per process.
class HostLogCapture {
public:
    HostLogCapture();
    ~HostLogCapture();

    std::vector<std::string> lines() const;
    size_t countContaining(std::string_view text) const;

private:
    mutable std::mutex _lock;
    std::vector<std::string> _lines;
};

// A blocking loopback client of the camera service; every read and write gives up after a few
// seconds, so no test can hang on the server.
class TestClient {
public:
    TestClient() = default;
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connect(uint16_t port);
    // Connects and makes the camera instance, then selects camera ix when given; false when a
    // step fails.
    bool open(uint16_t port, std::optional<uint32_t> ix = std::nullopt);
    bool sendRaw(const std::vector<uint8_t>& bytes);
    bool sendPacket(const std::vector<uint8_t>& payload);
    // Sends the request as one packet and reads the reply packet; nothing on any failure.
    std::optional<Message> call(const Message& request);
    std::optional<Message> readReply();
    // True when the server closes the connection before anything else arrives.
    bool waitForClose();
    void shutdownWrite();
    // Exactly size bytes; nothing when they do not come.
    std::optional<std::vector<uint8_t>> receive(size_t size);
    // True when nothing arrives within the time.
    bool quietFor(int milliseconds);
    void close();

private:
    bool readExactly(uint8_t* dst, size_t size);

    int _fd = -1;
};

}  // namespace test
}  // namespace host
}  // namespace vemo
