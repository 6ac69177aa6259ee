#include "RemoteSocketConnection.h"

#include <unistd.h>

#include <new>

#include <cutils/properties.h>

#include "ByteOrder.h"

namespace android {

namespace {
const int kConnectAttempts = 5;

class StreamSource : public CPacketReader::ISource {
public:
    explicit StreamSource(CSocketStream* stream) : _stream(stream) {}
    int readFully(void* buffer, unsigned int length) override {
        return _stream->readFully(buffer, length);
    }

private:
    CSocketStream* _stream;
};
}  // namespace

CRemoteSocketConnection::CRemoteSocketConnection() : _buffer(nullptr) {}

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
    StreamSource source(&_stream);
    const int length = _reader.receive(&source, pkt);
    if (length < 0) {
        _stream.close();
        return 0;
    }
    return length;
}

int CRemoteSocketConnection::close() {
    return _stream.close();
}

}  // namespace android
