#include "PacketReader.h"

#include <new>

#include <log/log.h>

#include "ByteOrder.h"
#include "RemoteConnection.h"

namespace android {

CPacketReader::CPacketReader() : _reply_capacity(0) {}

int CPacketReader::receive(ISource* source, unsigned char** pkt) {
    *pkt = nullptr;
    unsigned char prefix[4];
    if (source->readFully(prefix, sizeof(prefix)) != 0) {
        return 0;
    }
    const uint32_t length = loadU32(prefix);
    if (length == 0) {
        return 0;
    }
    if (length > kMaxPacketLength) {
        ALOGE("%s: Refusing a packet of %u bytes", "receivePkt", length);
        return -1;
    }
    if (_reply_capacity < length) {
        _reply.reset(new (std::nothrow) unsigned char[length]);
        _reply_capacity = _reply ? length : 0;
    }
    if (!_reply) {
        ALOGE("%s: Unable to allocate a packet of %u bytes", "receivePkt", length);
        return -1;
    }
    if (source->readFully(_reply.get(), length) != 0) {
        return 0;
    }
    *pkt = _reply.get();
    return static_cast<int>(length);
}

}  // namespace android
