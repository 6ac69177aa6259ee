#pragma once

// The guest driver's HGCM requests as a program hands them to ioctl: which request a number
// names, and the parameters of a call, checked against the room the number gives them. The
// layouts are those of the platform this is built for (vbox/VBoxGuest.h). Nothing here talks
// to the host.

#include <stddef.h>
#include <stdint.h>

#include <vbox/VBoxGuest.h>
#include <vemo/hgcm_wire.h>

namespace vemo {
namespace guest {

enum class RequestKind { kConnect, kDisconnect, kCall, kUnknown };

RequestKind requestKind(unsigned long number);

// One parameter of a call: the guest memory that holds its bytes (the value itself inside the
// request for the 32bit and 64bit types, the memory the address points at otherwise) and the
// directions the host may move them in.
struct CallParameter {
    uint32_t type;
    uint32_t size;
    unsigned char* bytes;
    bool hostReads;
    bool hostWrites;
};

struct CallRequest {
    unsigned char* request;  // the caller's request: header, then the parameters
    uint32_t clientId;
    uint32_t function;
    uint32_t count;
    CallParameter parameters[VEMO_HGCM_MAX_PARMS];
};

// Decodes the call request that number (a kCall number) and request describe. Returns 0, or
// EINVAL when the request is malformed: fewer bytes than a header, more parameters than the
// number leaves room for or than the host takes, a type a program may not pass (physical
// addresses, page lists), an address parameter larger than the host takes or a null address
// with a size.
int decodeCall(unsigned long number, void* request, CallRequest* call);

// The request's result field.
void storeCallResult(const CallRequest& call, int32_t result);

// EINVAL when the service name fills its field without an end.
int checkConnect(const VBoxGuestHGCMConnectInfo& request);

}  // namespace guest
}  // namespace vemo
