#include "Wire.h"

#include <string.h>

namespace vemo {
namespace guest {
namespace wire {

void encodeConnect(uint32_t locationType, const char* name, unsigned char* out) {
    storeU32(out, VEMO_HGCM_OP_CONNECT);
    storeU32(out + 4, locationType);
    memset(out + 8, 0, kNameSize);
    memcpy(out + 8, name, strnlen(name, kNameSize));
}

void encodeDisconnect(uint32_t clientId, unsigned char* out) {
    storeU32(out, VEMO_HGCM_OP_DISCONNECT);
    storeU32(out + 4, clientId);
}

void encodeCallHeader(const CallRequest& call, unsigned char* out) {
    storeU32(out, VEMO_HGCM_OP_CALL);
    storeU32(out + 4, call.clientId);
    storeU32(out + 8, call.function);
    storeU32(out + 12, call.count);
}

bool isInline(const CallParameter& parameter) {
    return parameter.type == VMMDevHGCMParmType_32bit ||
           parameter.type == VMMDevHGCMParmType_64bit || parameter.size <= VEMO_HGCM_INLINE_LIMIT;
}

void encodeParameterHeader(const CallParameter& parameter, unsigned char* out) {
    storeU32(out, parameter.type);
    storeU32(out + 4, parameter.size);
    storeU32(out + 8, isInline(parameter) ? 1 : 0);
}

size_t hostBodySize(uint32_t op) {
    switch (op) {
        case VEMO_HGCM_OP_RESULT:
            return 8;
        case VEMO_HGCM_OP_READ:
        case VEMO_HGCM_OP_WRITE:
            return 12;
        case VEMO_HGCM_OP_DONE:
            return 4;
        default:
            return 0;
    }
}

HostMessage decodeHostMessage(uint32_t op, const unsigned char* body) {
    HostMessage message;
    message.op = op;
    switch (op) {
        case VEMO_HGCM_OP_RESULT:
            message.status = static_cast<int32_t>(loadU32(body));
            message.clientId = loadU32(body + 4);
            break;
        case VEMO_HGCM_OP_READ:
        case VEMO_HGCM_OP_WRITE:
            message.index = loadU32(body);
            message.offset = loadU32(body + 4);
            message.length = loadU32(body + 8);
            break;
        case VEMO_HGCM_OP_DONE:
            message.status = static_cast<int32_t>(loadU32(body));
            break;
        default:
            break;
    }
    return message;
}

bool rangeWithin(const CallParameter& parameter, uint32_t offset, uint32_t length) {
    return static_cast<uint64_t>(offset) + length <= parameter.size;
}

}  // namespace wire
}  // namespace guest
}  // namespace vemo
