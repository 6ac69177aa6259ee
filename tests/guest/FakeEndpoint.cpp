#include "FakeEndpoint.h"

#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "support/LittleEndian.h"

namespace vemo {
namespace test {

namespace {

const uint32_t kConnect = 1;
const uint32_t kDisconnect = 2;
const uint32_t kCall = 3;
const uint32_t kResult = 0x80;
const uint32_t kRead = 0x81;
const uint32_t kWrite = 0x82;
const uint32_t kDone = 0x83;
const uint32_t kInlineLimit = 4096;
const uint32_t kReadPiece = 65536;
const int kTimeoutSeconds = 5;
const int kAcceptSliceMs = 50;

std::string textUpToNul(const Bytes& bytes) {
    std::string text(bytes.begin(), bytes.end());
    return text.substr(0, text.find('\0'));
}

}  // namespace

Bytes bytesOf(const std::string& text, bool withNul) {
    Bytes bytes(text.begin(), text.end());
    if (withNul) {
        bytes.push_back(0);
    }
    return bytes;
}

std::string GuestMessage::nameText() const {
    return textUpToNul(name);
}

std::string GuestMessage::text(size_t index) const {
    return index < parameters.size() ? textUpToNul(parameters[index].bytes) : std::string();
}

bool EndpointPeer::receiveExactly(void* at, size_t size) {
    unsigned char* bytes = static_cast<unsigned char*>(at);
    while (size > 0) {
        const ssize_t received = recv(_fd, bytes, size, 0);
        if (received <= 0) {
            return false;
        }
        bytes += received;
        size -= static_cast<size_t>(received);
    }
    return true;
}

bool EndpointPeer::receive(GuestMessage* message) {
    unsigned char head[8];
    if (!receiveExactly(head, sizeof(head))) {
        return false;
    }
    *message = GuestMessage();
    message->op = loadLe32(head);
    switch (message->op) {
        case kConnect:
            message->locationType = loadLe32(head + 4);
            message->name.resize(128);
            return receiveExactly(message->name.data(), message->name.size());
        case kDisconnect:
            message->clientId = loadLe32(head + 4);
            return true;
        case kCall: {
            message->clientId = loadLe32(head + 4);
            unsigned char rest[8];
            if (!receiveExactly(rest, sizeof(rest))) {
                return false;
            }
            message->function = loadLe32(rest);
            const uint32_t count = loadLe32(rest + 4);
            if (count > 32) {
                return false;
            }
            for (uint32_t i = 0; i < count; ++i) {
                unsigned char header[12];
                if (!receiveExactly(header, sizeof(header))) {
                    return false;
                }
                WireParameter parameter;
                parameter.type = loadLe32(header);
                parameter.size = loadLe32(header + 4);
                parameter.isInline = loadLe32(header + 8) == 1;
                if (parameter.isInline) {
                    if (parameter.size > kInlineLimit) {
                        return false;
                    }
                    parameter.bytes.resize(parameter.size);
                    if (!receiveExactly(parameter.bytes.data(), parameter.size)) {
                        return false;
                    }
                }
                message->parameters.push_back(std::move(parameter));
            }
            return true;
        }
        default:
            return false;
    }
}

bool EndpointPeer::sendRaw(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = send(_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

bool EndpointPeer::sendResult(int32_t status, uint32_t clientId) {
    return sendRaw(le32Words({kResult, static_cast<uint32_t>(status), clientId}));
}

bool EndpointPeer::sendDone(int32_t result) {
    return sendRaw(le32Words({kDone, static_cast<uint32_t>(result)}));
}

bool EndpointPeer::sendWrite(uint32_t index, uint32_t offset, const Bytes& bytes) {
    Bytes message = le32Words({kWrite, index, offset, static_cast<uint32_t>(bytes.size())});
    message.insert(message.end(), bytes.begin(), bytes.end());
    return sendRaw(message);
}

bool EndpointPeer::read(uint32_t index, uint32_t offset, uint32_t length, int32_t* status,
                        Bytes* bytes) {
    unsigned char answer[4];
    if (!sendRaw(le32Words({kRead, index, offset, length})) ||
        !receiveExactly(answer, sizeof(answer))) {
        return false;
    }
    *status = static_cast<int32_t>(loadLe32(answer));
    bytes->clear();
    if (*status != 0) {
        return true;
    }
    bytes->resize(length);
    return receiveExactly(bytes->data(), length);
}

bool EndpointPeer::atEnd() {
    unsigned char byte;
    return recv(_fd, &byte, 1, 0) == 0;
}

FakeEndpoint::FakeEndpoint(Script script, int connections) : _path(_folder.file("hgcm.sock")) {
    struct sockaddr_un address;
    memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, _path.c_str(), _path.size());
    _listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (_listener < 0 ||
        bind(_listener, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(_listener, 8) != 0) {
        throw std::runtime_error("cannot listen at " + _path);
    }
    _acceptor = std::thread([this, script, connections] {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
        for (int i = 0; i < connections && std::chrono::steady_clock::now() < deadline;) {
            struct pollfd ready = {_listener, POLLIN, 0};
            if (poll(&ready, 1, kAcceptSliceMs) <= 0) {
                continue;
            }
            const int fd = accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                return;
            }
            const struct timeval timeout = {kTimeoutSeconds, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
            std::lock_guard<std::mutex> guard(_lock);
            ++_accepted;
            ++i;
            _scripts.emplace_back([script, fd] {
                EndpointPeer peer(fd);
                script(peer);
                close(fd);
            });
        }
    });
}

FakeEndpoint::~FakeEndpoint() {
    join();
    if (_listener >= 0) {
        close(_listener);
    }
}

void FakeEndpoint::join() {
    if (_acceptor.joinable()) {
        _acceptor.join();
    }
    std::lock_guard<std::mutex> guard(_lock);
    for (std::thread& script : _scripts) {
        if (script.joinable()) {
            script.join();
        }
    }
}

int FakeEndpoint::accepted() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _accepted;
}

void RecordingHost::queueReply(Bytes reply) {
    std::lock_guard<std::mutex> guard(_lock);
    _replies.push_back(std::move(reply));
}

std::vector<GuestMessage> RecordingHost::messages() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _messages;
}

void RecordingHost::serve(EndpointPeer& peer) {
    GuestMessage message;
    while (peer.receive(&message)) {
        bool answered = false;
        switch (message.op) {
            case kConnect:
                answered = peer.sendResult(connectStatus, connectStatus >= 0 ? clientId : 0);
                break;
            case kDisconnect:
                answered = peer.sendResult(0, 0);
                break;
            default: {
                answered = true;
                for (uint32_t i = 0; i < message.parameters.size() && answered; ++i) {
                    WireParameter& parameter = message.parameters[i];
                    for (uint32_t at = 0; !parameter.isInline && at < parameter.size && answered;
                         at += kReadPiece) {
                        const uint32_t length = std::min(kReadPiece, parameter.size - at);
                        int32_t status = -1;
                        Bytes piece;
                        answered = peer.read(i, at, length, &status, &piece) && status == 0;
                        parameter.bytes.insert(parameter.bytes.end(), piece.begin(), piece.end());
                    }
                }
                if (answered && message.function == 10 && message.parameters.size() >= 2) {
                    Bytes reply;
                    {
                        std::lock_guard<std::mutex> guard(_lock);
                        if (!_replies.empty()) {
                            reply = std::move(_replies.front());
                            _replies.pop_front();
                        }
                    }
                    Bytes count;
                    appendLe32(&count, static_cast<uint32_t>(reply.size()));
                    answered = peer.sendWrite(1, 0, count) && peer.sendWrite(1, 4, reply);
                }
                answered = answered && peer.sendDone(callResult);
                break;
            }
        }
        std::lock_guard<std::mutex> guard(_lock);
        _messages.push_back(message);
        if (!answered) {
            return;
        }
    }
}

}  // namespace test
}  // namespace vemo
