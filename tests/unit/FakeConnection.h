#pragma once

#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "RemoteConnection.h"
#include "RemoteParameters.h"

namespace vemo {
namespace test {

// An in-memory packet connection: records what is sent, answers from a queue of replies and
// can be told to fail at each step.
class FakeConnection : public android::IRemoteConnection {
public:
    using Bytes = std::vector<unsigned char>;

    ~FakeConnection() override { delete[] _area; }

    unsigned char* getPktBuffer(unsigned int size) override {
        ++bufferRequests;
        if (failBuffer) {
            return nullptr;
        }
        delete[] _area;
        _area = new unsigned char[size];
        _areaSize = size;
        return _area;
    }

    int sendPkt(unsigned char* data, unsigned int length) override {
        EXPECT_EQ(data, _area);
        EXPECT_LE(length, _areaSize);
        if (failSend) {
            return -1;
        }
        sent.emplace_back(data, data + length);
        return 0;
    }

    int receivePkt(unsigned char** pkt) override {
        *pkt = nullptr;
        if (replies.empty()) {
            return 0;
        }
        _received = replies.front();
        replies.pop_front();
        if (_received.empty()) {
            return 0;
        }
        *pkt = _received.data();
        return static_cast<int>(_received.size());
    }

    int close() override {
        ++closes;
        return 0;
    }

    // Queues a reply holding message.
    void reply(android::CRemoteParameters& message) {
        Bytes bytes(static_cast<size_t>(message.getFlattenedSize()));
        message.flatten(bytes.data());
        replies.push_back(bytes);
    }

    // The "__function" of each packet sent.
    std::vector<std::string> functions() const {
        std::vector<std::string> names;
        for (const Bytes& packet : sent) {
            android::CRemoteParameters message;
            message.unflatten(packet.data(), packet.size());
            names.push_back(message.getStrParam("__function").c_str());
        }
        return names;
    }

    std::deque<Bytes> replies;
    std::vector<Bytes> sent;
    bool failBuffer = false;
    bool failSend = false;
    int bufferRequests = 0;
    int closes = 0;

private:
    unsigned char* _area = nullptr;
    unsigned int _areaSize = 0;
    Bytes _received;  // the last packet received, the connection's until the next one
};

}  // namespace test
}  // namespace vemo
