#include "RemoteSocketConnection.h"

#include <unistd.h>

#include <new>

#include <cutils/properties.h>
#include <log/log.h>

#include "ByteOrder.h"

namespace android {

namespace {
const int kConnectAttempts = 5;
}

CRemoteSocketConnection::CRemoteSocketConnection() : _buffer(nullptr), _reply_capacity(0) {}

CRemoteSocketConnection::~CRemoteSocketConnection() {
    releaseBuffer();
}

int CRemoteSocketConnection::open(int port) {
    char host[256] = {0};
    property_get("ro.tolvd.ip", host, "10.0.2.2");
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        if (_stream.open(host, port, 1) == 0) {
            return 0;
        }
        sleep(1);
    }
    return -1;
}

void CRemoteSocketConnection::releaseBuffer() {
    delete[] _buffer;
    _buffer = nullptr;
}

unsigned char* CRemoteSocketConnection::getPktBuffer(unsigned int size) {
    releaseBuffer();
    _buffer = new (std::nothrow) unsigned char[size];
    return _buffer;
}

int CRemoteSocketConnection::sendPkt(unsigned char* data, unsigned int length) {
    unsigned char prefix[4];
    storeU32(prefix, length);
    if (_stream.writeFully(prefix, sizeof(prefix)) != 0 || _stream.writeFully(data, length) != 0) {
        return -1;
    }
    releaseBuffer();
    return 0;
}

int CRemoteSocketConnection::receivePkt(unsigned char** pkt) {
    *pkt = nullptr;
    unsigned char prefix[4];
    if (_stream.readFully(prefix, sizeof(prefix)) != 0) {
        return 0;
    }
    const uint32_t length = loadU32(prefix);
    if (length == 0) {
        return 0;
    }
    if (length > kMaxPacketLength) {
        ALOGE("%s: Refusing a packet of %u bytes", "receivePkt", length);
        _stream.close();
        return 0;
    }
    if (_reply_capacity < length) {
        _reply.reset(new (std::nothrow) unsigned char[length]);
        _reply_capacity = _reply ? length : 0;
    }
    if (!_reply) {
        ALOGE("%s: Unable to allocate a packet of %u bytes", "receivePkt", length);
        _stream.close();
        return 0;
    }
    if (_stream.readFully(_reply.get(), length) != 0) {
        return 0;
    }
    *pkt = _reply.get();
    return static_cast<int>(length);
}

int CRemoteSocketConnection::close() {
    return _stream.close();
}

}  // namespace android
