#pragma once

// The VirtualBox guest driver's HGCM requests, as the published driver interface lays them
// out: the connect, disconnect and call requests made with ioctl on "/dev/vboxguest".
// A 32-bit guest uses 12-byte call parameters with 32-bit addresses. A 64-bit guest uses the
// interface's 64-bit form: 16-byte parameters packed to 4 bytes (type, size, 64-bit address)
// and request numbers whose function number carries the 64-bit flag (128).

#include <stdint.h>
#include <sys/ioctl.h>

#ifdef __cplusplus
extern "C" {
#endif

// Status put in a request before it is made; the driver or the host replaces it.
#define VERR_WRONG_ORDER (-22)

typedef enum {
    VMMDevHGCMLoc_Invalid = 0,
    VMMDevHGCMLoc_LocalHost = 1,
    VMMDevHGCMLoc_LocalHost_Existing = 2,
} HGCMServiceLocationType;

typedef struct {
    char achName[128];
} HGCMServiceLocationHost;

typedef struct {
    HGCMServiceLocationType type;
    union {
        HGCMServiceLocationHost host;
    } u;
} HGCMServiceLocation;

typedef struct VBoxGuestHGCMConnectInfo {
    int32_t result;
    HGCMServiceLocation Loc;
    uint32_t u32ClientID;
} VBoxGuestHGCMConnectInfo;

typedef struct VBoxGuestHGCMDisconnectInfo {
    int32_t result;
    uint32_t u32ClientID;
} VBoxGuestHGCMDisconnectInfo;

// Header of a call request; cParms parameters follow it at once.
typedef struct VBoxGuestHGCMCallInfo {
    int32_t result;
    uint32_t u32ClientID;
    uint32_t u32Function;
    uint32_t cParms;
} VBoxGuestHGCMCallInfo;

typedef enum {
    VMMDevHGCMParmType_Invalid = 0,
    VMMDevHGCMParmType_32bit = 1,
    VMMDevHGCMParmType_64bit = 2,
    VMMDevHGCMParmType_PhysAddr = 3,
    VMMDevHGCMParmType_LinAddr = 4,
    VMMDevHGCMParmType_LinAddr_In = 5,
    VMMDevHGCMParmType_LinAddr_Out = 6,
} HGCMFunctionParameterType;

typedef struct {
    HGCMFunctionParameterType type;
    union {
        uint32_t value32;
        uint64_t value64;
        struct {
            uint32_t size;
            union {
                uint32_t physAddr;
                uint32_t linearAddr;
            } u;
        } Pointer;
    } u;
} __attribute__((packed, aligned(4))) HGCMFunctionParameter32;

typedef struct {
    HGCMFunctionParameterType type;
    union {
        uint32_t value32;
        uint64_t value64;
        struct {
            uint32_t size;
            union {
                uint64_t physAddr;
                uint64_t linearAddr;
            } __attribute__((packed)) u;
        } __attribute__((packed)) Pointer;
    } __attribute__((packed)) u;
} __attribute__((packed, aligned(4))) HGCMFunctionParameter64;

#ifdef __LP64__
typedef HGCMFunctionParameter64 HGCMFunctionParameter;
#define VBOXGUEST_IOCTL_FLAG 128
#else
typedef HGCMFunctionParameter32 HGCMFunctionParameter;
#define VBOXGUEST_IOCTL_FLAG 0
#endif

#define VBOXGUEST_IOCTL_CODE(function, size) \
    _IOC(_IOC_READ | _IOC_WRITE, 'V', (function) | VBOXGUEST_IOCTL_FLAG, (size))

#define VBOXGUEST_IOCTL_HGCM_CONNECT VBOXGUEST_IOCTL_CODE(16, sizeof(VBoxGuestHGCMConnectInfo))
#define VBOXGUEST_IOCTL_HGCM_DISCONNECT \
    VBOXGUEST_IOCTL_CODE(17, sizeof(VBoxGuestHGCMDisconnectInfo))
// A call request with room for size bytes: the header and its parameters.
#define VBOXGUEST_IOCTL_HGCM_CALL(size) VBOXGUEST_IOCTL_CODE(18, (size))

#ifdef __cplusplus
}
#endif
