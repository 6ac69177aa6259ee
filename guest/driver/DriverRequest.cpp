#include "DriverRequest.h"

#include <errno.h>
#include <string.h>

namespace vemo {
namespace guest {

namespace {

const unsigned kCallFunction = 18 | VBOXGUEST_IOCTL_FLAG;

// The parameter as the platform lays it out, read from the caller's bytes, which need not be
// aligned for it. The type is read as the number it is: a caller may put any value there.
int decodeParameter(unsigned char* raw, CallParameter* parameter) {
    HGCMFunctionParameter copy;
    memcpy(&copy, raw, sizeof(copy));
    memcpy(&parameter->type, raw + offsetof(HGCMFunctionParameter, type), sizeof(uint32_t));
    switch (parameter->type) {
        case VMMDevHGCMParmType_32bit:
        case VMMDevHGCMParmType_64bit:
            parameter->size = parameter->type == VMMDevHGCMParmType_32bit ? 4 : 8;
            parameter->bytes = raw + offsetof(HGCMFunctionParameter, u);
            parameter->hostReads = true;
            parameter->hostWrites = true;
            return 0;
        case VMMDevHGCMParmType_LinAddr:
        case VMMDevHGCMParmType_LinAddr_In:
        case VMMDevHGCMParmType_LinAddr_Out: {
            parameter->size = copy.u.Pointer.size;
            const uintptr_t address = static_cast<uintptr_t>(copy.u.Pointer.u.linearAddr);
            parameter->bytes = reinterpret_cast<unsigned char*>(address);
            // An input-only buffer is not copied back to the guest; the host may still read an
            // output-only one (its bytes are the guest's, whatever they are).
            parameter->hostReads = true;
            parameter->hostWrites = parameter->type != VMMDevHGCMParmType_LinAddr_In;
            if (parameter->size > VEMO_HGCM_MAX_PARM_SIZE ||
                (address == 0 && parameter->size != 0)) {
                return EINVAL;
            }
            return 0;
        }
        default:
            return EINVAL;
    }
}

}  // namespace

RequestKind requestKind(unsigned long number) {
    if (number == VBOXGUEST_IOCTL_HGCM_CONNECT) {
        return RequestKind::kConnect;
    }
    if (number == VBOXGUEST_IOCTL_HGCM_DISCONNECT) {
        return RequestKind::kDisconnect;
    }
    if (_IOC_DIR(number) == (_IOC_READ | _IOC_WRITE) && _IOC_TYPE(number) == 'V' &&
        _IOC_NR(number) == kCallFunction) {
        return RequestKind::kCall;
    }
    return RequestKind::kUnknown;
}

int decodeCall(unsigned long number, void* request, CallRequest* call) {
    const size_t room = _IOC_SIZE(number);
    if (room < sizeof(VBoxGuestHGCMCallInfo)) {
        return EINVAL;
    }
    VBoxGuestHGCMCallInfo header;
    memcpy(&header, request, sizeof(header));
    const size_t slots = (room - sizeof(header)) / sizeof(HGCMFunctionParameter);
    if (header.cParms > slots || header.cParms > VEMO_HGCM_MAX_PARMS) {
        return EINVAL;
    }
    call->request = static_cast<unsigned char*>(request);
    call->clientId = header.u32ClientID;
    call->function = header.u32Function;
    call->count = header.cParms;
    unsigned char* raw = call->request + sizeof(header);
    for (uint32_t i = 0; i < call->count; ++i, raw += sizeof(HGCMFunctionParameter)) {
        const int error = decodeParameter(raw, &call->parameters[i]);
        if (error != 0) {
            return error;
        }
    }
    return 0;
}

void storeCallResult(const CallRequest& call, int32_t result) {
    memcpy(call.request + offsetof(VBoxGuestHGCMCallInfo, result), &result, sizeof(result));
}

int checkConnect(const VBoxGuestHGCMConnectInfo& request) {
    const char* name = request.Loc.u.host.achName;
    return memchr(name, '\0', sizeof(request.Loc.u.host.achName)) != nullptr ? 0 : EINVAL;
}

}  // namespace guest
}  // namespace vemo
