#include "HostTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "support/LittleEndian.h"

namespace vemo {
namespace host {
namespace test {

std::vector<uint8_t> hexBytes(std::string_view hex) {
    std::vector<uint8_t> bytes;
    std::string digits;
    for (char c : hex) {
        if (c != ' ') {
            digits += c;
        }
        if (digits.size() == 2) {
            bytes.push_back(static_cast<uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
            digits.clear();
        }
    }
    return bytes;
}

std::vector<uint8_t> bytesOf(std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> packetOf(const std::vector<uint8_t>& payload) {
    return vemo::test::lengthPrefixed(payload);
}

std::string describe(const Message& message) {
    std::string out;
    for (const auto& [key, value] : message.entries()) {
        out += (out.empty() ? "" : " ") + key + "=";
        switch (value.type()) {
            case ValueType::kString:
                out += "str:\"" + value.text() + "\"";
                break;
            case ValueType::kU8:
                out += "u8:" + std::to_string(value.number());
                break;
            case ValueType::kU16:
                out += "u16:" + std::to_string(value.number());
                break;
            case ValueType::kU32:
                out += "u32:" + std::to_string(value.number());
                break;
            case ValueType::kBuffer:
                out += "buf:";
                for (uint32_t i = 0; i < value.bufferSize(); ++i) {
                    out += std::to_string(value.bufferData()[i]) + ".";
                }
                break;
        }
    }
    return out;
}

Message request(std::string_view function) {
    Message m;
    m.set("__function", Value::string(function));
    return m;
}

Message request(std::string_view function, uint32_t ix) {
    Message m = request(function);
    m.set("ix", Value::u32(ix));
    return m;
}

Message initRequest(std::string_view remoteClass) {
    Message m = request("__initThis");
    m.set("__remote_class", Value::string(remoteClass));
    return m;
}

Message with(Message message, std::string_view key, uint32_t value) {
    message.set(key, Value::u32(value));
    return message;
}

Message with(Message message, std::string_view key, std::string_view text) {
    message.set(key, Value::string(text));
    return message;
}

Message releaseRequest(uint32_t store, uint64_t number) {
    return with(with(with(request("releaseOneFrame"), "sample_store", store), "sample_num_high",
                     static_cast<uint32_t>(number >> 32)),
                "sample_num_low", static_cast<uint32_t>(number));
}

uint64_t u64(const Message& message, const std::string& name) {
    return uint64_t{message.u32(name + "_high").value_or(0)} << 32 |
           message.u32(name + "_low").value_or(0);
}

HostLogCapture::HostLogCapture() {
    setLogLevel(LogLevel::kDebug);
    setLogSink([this](LogLevel level, const std::string& message) {
        static const char kLetters[] = "EWID";
        std::lock_guard<std::mutex> guard(_lock);
        _lines.push_back(std::string(1, kLetters[static_cast<int>(level)]) + " " + message);
    });
}

HostLogCapture::~HostLogCapture() {
    setLogSink({});
    setLogLevel(LogLevel::kInfo);
}

std::vector<std::string> HostLogCapture::lines() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _lines;
}

size_t HostLogCapture::countContaining(std::string_view text) const {
    std::lock_guard<std::mutex> guard(_lock);
    return static_cast<size_t>(std::count_if(_lines.begin(), _lines.end(), [&](const auto& l) {
        return l.find(text) != std::string::npos;
    }));
}

TestClient::~TestClient() {
    close();
}

bool TestClient::connect(uint16_t port) {
    _fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (_fd < 0) {
        return false;
    }
    const timeval timeout{5, 0};
    setsockopt(_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    setsockopt(_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    const int one = 1;
    setsockopt(_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
}

bool TestClient::open(uint16_t port, std::optional<uint32_t> ix) {
    const std::optional<Message> made = connect(port) ? call(initRequest()) : std::nullopt;
    const std::optional<Message> selected = made && ix ? call(request("setCameraIx", *ix)) : made;
    return made && made->u32("__return") == 0u && selected && selected->u32("__return") == 0u;
}

bool TestClient::sendRaw(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TestClient::sendPacket(const std::vector<uint8_t>& payload) {
    return sendRaw(packetOf(payload));
}

bool TestClient::readExactly(uint8_t* dst, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(_fd, dst + done, size - done, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::optional<Message> TestClient::call(const Message& request) {
    if (!sendPacket(request.encode())) {
        return std::nullopt;
    }
    return readReply();
}

std::optional<Message> TestClient::readReply() {
    uint8_t header[4];
    if (!readExactly(header, 4)) {
        return std::nullopt;
    }
    const uint32_t n = vemo::test::loadLe32(header);
    std::vector<uint8_t> payload(n);
    Message reply;
    if (!readExactly(payload.data(), n) || !reply.decode(payload.data(), n).ok()) {
        return std::nullopt;
    }
    return reply;
}

bool TestClient::waitForClose() {
    uint8_t byte = 0;
    ssize_t n = 0;
    do {
        n = ::recv(_fd, &byte, 1, 0);
    } while (n < 0 && errno == EINTR);
    // A close with unread request bytes in the server's buffer arrives as a reset.
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

void TestClient::shutdownWrite() {
    ::shutdown(_fd, SHUT_WR);
}

std::optional<std::vector<uint8_t>> TestClient::receive(size_t size) {
    std::vector<uint8_t> bytes(size);
    if (!readExactly(bytes.data(), size)) {
        return std::nullopt;
    }
    return bytes;
}

bool TestClient::quietFor(int milliseconds) {
    pollfd p{_fd, POLLIN, 0};
    return ::poll(&p, 1, milliseconds) == 0;
}

void TestClient::close() {
    if (_fd >= 0) {
        ::close(_fd);
        _fd = -1;
    }
}

}  // namespace test
}  // namespace host
}  // namespace vemo
