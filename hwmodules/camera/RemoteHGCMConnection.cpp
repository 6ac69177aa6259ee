#include "RemoteHGCMConnection.h"

#include <string.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include <cutils/properties.h>
#include <log/log.h>

#include "ByteOrder.h"

namespace android {

namespace {
const int kControlPort = 10088;
const int kConnectAttempts = 5;
const size_t kRecordSize = 13;

// A host that answers with nothing is asked again at once a few times, then with a pause that
// grows to kQuietPauseMaxUs; after kQuietLimitUs of nothing the read fails.
const int kQuietAnswersBeforePause = 64;
const useconds_t kQuietPauseMaxUs = 10000;
const uint64_t kQuietLimitUs = 10000000;
// Room for the largest frames the host offers (1920x1080 in RGB is 6 MB): kept from packet to
// packet, so that frames don't cost fresh pages on every read.
const unsigned long kKeptStagingSize = 8ul * 1024 * 1024;

uint64_t monotonicUs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

// Counts the answers that delivered nothing in a row and pauses between them. False once the
// host has been quiet for too long: the time of the driver's own round trips counts too, so
// that a slow machine doesn't stretch the limit.
class QuietHost {
public:
    bool delivered(unsigned long count) {
        if (count != 0) {
            _answers = 0;
            return true;
        }
        if (_answers++ == 0) {
            _since = monotonicUs();
        }
        if (_answers <= kQuietAnswersBeforePause) {
            return true;
        }
        _pause =
            _pause == 0 ? 100 : (_pause * 2 < kQuietPauseMaxUs ? _pause * 2 : kQuietPauseMaxUs);
        usleep(_pause);
        if (monotonicUs() - _since >= kQuietLimitUs) {
            ALOGE("[%s] - The host delivered nothing for %llu s", "readFully",
                  static_cast<unsigned long long>(kQuietLimitUs / 1000000));
            return false;
        }
        return true;
    }

private:
    int _answers = 0;
    useconds_t _pause = 0;
    uint64_t _since = 0;
};
}  // namespace

CRemoteHGCMConnection::CRemoteHGCMConnection()
    : _buffer(nullptr),
      _capacity(0),
      _connected(false),
      _send_failed(false),
      _staging_capacity(0) {}

CRemoteHGCMConnection::~CRemoteHGCMConnection() {
    delete[] _buffer;
}

int CRemoteHGCMConnection::writeControl(ControlCommand command, uint32_t argument) {
    unsigned char record[kRecordSize];
    record[0] = static_cast<unsigned char>(command);
    storeU32(record + 1, _stream.getClientId());
    storeU32(record + 5, 0);
    storeU32(record + 9, argument);
    return _control.writeFully(record, sizeof(record));
}

int CRemoteHGCMConnection::open(int port) {
    ALOGE("[%s] Opening POrt - %d", "open", port);
    char host[PROPERTY_VALUE_MAX] = {0};
    property_get("ro.tolvd.ip", host, "10.0.2.2");
    int attempt = 0;
    for (; attempt < kConnectAttempts; ++attempt) {
        if (_control.open(host, kControlPort, 1) == 0) {
            break;
        }
        sleep(1);
    }
    if (attempt == kConnectAttempts) {
        ALOGE("[%s] Unable to connect to VBox Control Port", "open");
        return -1;
    }
    if (writeControl(CONTROL_OPEN, static_cast<uint32_t>(port)) != 0) {
        ALOGE("[%s] Unable to connect to remote control port", "open");
        _control.close();
        return -1;
    }
    unsigned char answer[4];
    _control.readFully(answer, sizeof(answer));
    _connected = true;
    ALOGE("[%s] HGCM Connection Made Successfully [%p]", "open", static_cast<void*>(this));
    return 0;
}

unsigned char* CRemoteHGCMConnection::getPktBuffer(unsigned int size) {
    if (!_connected) {
        return nullptr;
    }
    if (_buffer != nullptr && _capacity >= size) {
        return _buffer + 4;
    }
    unsigned char* grown = new (std::nothrow) unsigned char[static_cast<size_t>(size) + 8];
    if (grown == nullptr) {
        return nullptr;
    }
    delete[] _buffer;
    _buffer = grown;
    _capacity = size;
    return _buffer + 4;
}

int CRemoteHGCMConnection::sendPkt(unsigned char* data, unsigned int length) {
    if (_buffer != nullptr && data == _buffer + 4) {
        storeU32(_buffer, length);
        _send_failed = _stream.sendData1(_buffer, length + 4) < 0;
    } else {
        unsigned char prefix[4];
        storeU32(prefix, length);
        _send_failed =
            _stream.sendData1(prefix, sizeof(prefix)) < 0 || _stream.sendData1(data, length) < 0;
    }
    return 0;
}

int CRemoteHGCMConnection::sendPktWithPtr(unsigned char* /*data*/, unsigned int length,
                                          unsigned char* extra, unsigned int extraLength) {
    if (_buffer == nullptr || length > _capacity) {
        return -1;
    }
    storeU32(_buffer, length);
    storeU32(_buffer + 4 + length, extraLength);
    _stream.sendData1(_buffer, length + 8);
    _stream.sendData1(extra, extraLength);
    return 0;
}

int CRemoteHGCMConnection::receivePkt(unsigned char** pkt) {
    *pkt = nullptr;
    if (_send_failed) {
        // The host never got the request: waiting for its reply would wait for ever.
        _send_failed = false;
        ALOGE("[%s] - receivePkt for pakct len Failed", "receivePkt");
        return 0;
    }
    // The previous packet is over: an area grown for an unusually large one is let go.
    if (_staging_capacity > kKeptStagingSize) {
        _staging.reset();
        _staging_capacity = 0;
    }
    unsigned char prefix[4];
    if (readFully(prefix, sizeof(prefix)) == nullptr) {
        ALOGE("[%s] - receivePkt for pakct len Failed", "receivePkt");
        return 0;
    }
    const uint32_t length = loadU32(prefix);
    if (length > kMaxPacketLength) {
        ALOGE("[%s] - Refusing a packet of %u bytes", "receivePkt", length);
        return 0;
    }
    unsigned char* area = length != 0 ? staging(length) : nullptr;
    if (length != 0 && area == nullptr) {
        ALOGE("[%s] - Unable to allocate a packet of %u bytes", "receivePkt", length);
        return 0;
    }
    if (receiveInPlace(area, length) == nullptr) {
        ALOGE("[%s] - receivePkt for packet content Failed", "receivePkt");
        return 0;
    }
    *pkt = area + 4;
    return static_cast<int>(length);
}

unsigned char* CRemoteHGCMConnection::readFully(unsigned char* dst, unsigned long count) {
    if (count == 0 || dst == nullptr) {
        ALOGE("[%s] - Request to read to a NULL buffer or 0 length", "readFully");
        return nullptr;
    }
    if (count > kMaxPacketLength) {
        ALOGE("[%s] - Refusing to read %lu bytes", "readFully", count);
        return nullptr;
    }
    unsigned char* staging = this->staging(count);
    if (staging == nullptr) {
        return nullptr;
    }
    unsigned long remaining = count;
    QuietHost quiet;
    while (remaining != 0) {
        storeU32(staging, 0xFFFFFFFFu);
        _stream.recvData(staging, static_cast<unsigned int>(remaining));
        const int32_t delivered = static_cast<int32_t>(loadU32(staging));
        if (delivered < 0) {
            ALOGE("[%s] - Unable to receive", "readFully");
            return nullptr;
        }
        unsigned long used = static_cast<unsigned long>(delivered);
        if (used > remaining) {
            // The host delivered more than asked: keep what fits, drop the rest.
            ALOGE("HGCM BUFFER OVERRUN");
            used = remaining;
        }
        memcpy(dst + (count - remaining), staging + 4, used);
        remaining -= used;
        if (!quiet.delivered(used)) {
            return nullptr;
        }
    }
    return dst;
}

unsigned char* CRemoteHGCMConnection::receiveInPlace(unsigned char* area, unsigned long count) {
    if (count == 0 || area == nullptr) {
        ALOGE("[%s] - Request to read to a NULL buffer or 0 length", "readFully");
        return nullptr;
    }
    unsigned long received = 0;
    QuietHost quiet;
    while (received < count) {
        unsigned char* place = area + received;
        unsigned char kept[4];
        memcpy(kept, place, sizeof(kept));
        storeU32(place, 0xFFFFFFFFu);
        _stream.recvData(place, static_cast<unsigned int>(count - received));
        const int32_t delivered = static_cast<int32_t>(loadU32(place));
        memcpy(place, kept, sizeof(kept));
        if (delivered < 0) {
            ALOGE("[%s] - Unable to receive", "readFully");
            return nullptr;
        }
        unsigned long used = static_cast<unsigned long>(delivered);
        if (used > count - received) {
            ALOGE("HGCM BUFFER OVERRUN");
            used = count - received;
        }
        received += used;
        if (!quiet.delivered(used)) {
            return nullptr;
        }
    }
    return area;
}

unsigned char* CRemoteHGCMConnection::staging(unsigned long count) {
    if (_staging_capacity < count) {
        std::unique_ptr<unsigned char[]> grown(new (std::nothrow) unsigned char[count + 4]);
        if (!grown) {
            return nullptr;
        }
        _staging = std::move(grown);
        _staging_capacity = count;
    }
    return _staging.get();
}

unsigned char* CRemoteHGCMConnection::readFullyWithStream(unsigned char* dst, unsigned long count) {
    if (writeControl(CONTROL_READ, static_cast<uint32_t>(count)) != 0) {
        ALOGE("[%s] Unable to connect to remote control port", "readFullyWithStream");
        return nullptr;
    }
    if (_control.readFully(dst, static_cast<unsigned int>(count)) != 0) {
        return nullptr;
    }
    return dst;
}

int CRemoteHGCMConnection::close() {
    if (!_connected) {
        return 0;
    }
    writeControl(CONTROL_CLOSE, 0);
    _control.close();
    _connected = false;
    ALOGE("[%s] HGCM Connection Closed [%p]", "close", static_cast<void*>(this));
    return 0;
}

}  // namespace android
