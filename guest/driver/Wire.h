#pragma once

// The bytes of the wire between the emulation and the host's guest-driver endpoint
// (vemo/hgcm_wire.h): the guest's messages, and the fixed part of the host's. Nothing here
// touches a socket.

#include <stddef.h>
#include <stdint.h>

#include <vemo/hgcm_wire.h>

#include "DriverRequest.h"

namespace vemo {
namespace guest {
namespace wire {

const size_t kNameSize = 128;
const size_t kConnectSize = 8 + kNameSize;
const size_t kDisconnectSize = 8;
const size_t kCallHeaderSize = 16;
const size_t kParameterHeaderSize = 12;
const size_t kOpSize = 4;
// The largest fixed part of a host message after its op.
const size_t kMaxHostBodySize = 12;

inline void storeU32(unsigned char* at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
    at[2] = static_cast<unsigned char>(value >> 16);
    at[3] = static_cast<unsigned char>(value >> 24);
}

inline uint32_t loadU32(const unsigned char* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The service name goes as far as its first NUL, then zeros fill the field.
void encodeConnect(uint32_t locationType, const char* name, unsigned char* out);
void encodeDisconnect(uint32_t clientId, unsigned char* out);
void encodeCallHeader(const CallRequest& call, unsigned char* out);
// The parameter's type, size and inline flag; its bytes follow it when isInline() says so.
void encodeParameterHeader(const CallParameter& parameter, unsigned char* out);
bool isInline(const CallParameter& parameter);

// What follows the op of a host message before any data: 0 for an op the guest does not know.
size_t hostBodySize(uint32_t op);

struct HostMessage {
    uint32_t op = 0;
    int32_t status = 0;     // RESULT, DONE
    uint32_t clientId = 0;  // RESULT
    uint32_t index = 0;     // READ, WRITE
    uint32_t offset = 0;
    uint32_t length = 0;
};

// body holds hostBodySize(op) bytes.
HostMessage decodeHostMessage(uint32_t op, const unsigned char* body);

// True when offset and length name bytes inside the parameter.
bool rangeWithin(const CallParameter& parameter, uint32_t offset, uint32_t length);

}  // namespace wire
}  // namespace guest
}  // namespace vemo
