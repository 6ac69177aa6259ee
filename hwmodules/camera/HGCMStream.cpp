#include "HGCMStream.h"

#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <log/log.h>
#include <vbox/VBoxGuest.h>

namespace {

const char* const kDevice = "/dev/vboxguest";
const char* const kService = "VemoVMGuestPropSvc";
const char* const kToHost = "RDONLYHOST";
const char* const kToGuest = "RDONLYGUEST";
const size_t kLabelSize = 64;

enum {
    kCommit = 7,
    kFree = 8,
    kSend = 9,
    kReceive = 10,
    kMap = 11,
};

uint32_t textSize(const char* text) {
    return static_cast<uint32_t>(strlen(text) + 1);
}

}  // namespace

HGCMStream::HGCMStream() : _handle(-1), _client_id(0), _pos(0) {
    memset(_name, 0, sizeof(_name));
    snprintf(_name, sizeof(_name), "%s", "vemo_shm_99");
    connect();
}

HGCMStream::HGCMStream(int a, int b) : _handle(-1), _client_id(0), _pos(0) {
    memset(_name, 0, sizeof(_name));
    snprintf(_name, sizeof(_name), "vemo_shm_%d_%d", a, b);
    connect();
}

HGCMStream::~HGCMStream() {
    if (_handle == -1) {
        return;
    }
    freeBuffer(_name);
    if (_handle != -1 && _handle != 0) {
        VBoxGuestHGCMDisconnectInfo request;
        request.result = VERR_WRONG_ORDER;
        request.u32ClientID = _client_id;
        ioctl(_handle, VBOXGUEST_IOCTL_HGCM_DISCONNECT, &request);
        ::close(_handle);
        _handle = -1;
    }
}

int HGCMStream::connect() {
    const int handle = open(kDevice, O_RDWR);
    if (handle < 0) {
        _handle = -1;
        ALOGE("HGCMConnect: failed to connect vboxguest driver");
        return -1;
    }
    ALOGE("HGCMConnect: Succeeded. %d", static_cast<int>(getpid()));
    _handle = handle;

    VBoxGuestHGCMConnectInfo request;
    memset(&request, 0, sizeof(request));
    request.result = VERR_WRONG_ORDER;
    request.Loc.type = VMMDevHGCMLoc_LocalHost_Existing;
    snprintf(request.Loc.u.host.achName, sizeof(request.Loc.u.host.achName), "%s", kService);
    request.u32ClientID = 0xFFFFFFFF;
    const int result = ioctl(_handle, VBOXGUEST_IOCTL_HGCM_CONNECT, &request);
    if (result < 0) {
        ::close(_handle);
        _handle = -1;
        return result;
    }
    if (request.result < 0) {
        return request.result;
    }
    _client_id = request.u32ClientID;
    return 0;
}

int HGCMStream::call(uint32_t function, const Parameter* parameters, unsigned count, unsigned slots,
                     bool* made) {
    if (made != nullptr) {
        *made = false;
    }
    if (_handle == -1 || _handle == 0) {
        const int result = connect();
        if (result != 0) {
            return result;
        }
    }
    struct {
        VBoxGuestHGCMCallInfo info;
        HGCMFunctionParameter parms[3];
    } request;
    memset(&request, 0, sizeof(request));
    request.info.result = VERR_WRONG_ORDER;
    request.info.u32ClientID = _client_id;
    request.info.u32Function = function;
    request.info.cParms = count;
    for (unsigned i = 0; i < count; ++i) {
        request.parms[i].type = VMMDevHGCMParmType_LinAddr;
        request.parms[i].u.Pointer.size = parameters[i].size;
        request.parms[i].u.Pointer.u.linearAddr =
            static_cast<decltype(request.parms[i].u.Pointer.u.linearAddr)>(
                reinterpret_cast<uintptr_t>(parameters[i].data));
    }
    const size_t size = sizeof(VBoxGuestHGCMCallInfo) + slots * sizeof(HGCMFunctionParameter);
    const int result = ioctl(_handle, VBOXGUEST_IOCTL_HGCM_CALL(size), &request);
    if (made != nullptr) {
        *made = true;
    }
    if (result < 0) {
        return result;
    }
    return request.info.result;
}

int HGCMStream::setPos(unsigned int pos) {
    if (pos >= kSpan) {
        return -1;
    }
    _pos = pos;
    return 0;
}

unsigned int HGCMStream::seek(unsigned int delta) {
    const uint64_t next = static_cast<uint64_t>(_pos) + delta;
    _pos = next >= kSpan ? 0 : static_cast<uint32_t>(next);
    return _pos;
}

int HGCMStream::writeValue(const char* label, void* data, unsigned int length) {
    const Parameter parameters[3] = {
        {label, textSize(label)}, {data, length}, {kToHost, textSize(kToHost)}};
    bool made = false;
    const int result = call(kCommit, parameters, 3, 3, &made);
    // The position moves once the request has reached the driver, whatever the host said.
    if (made) {
        seek(length);
    }
    return result;
}

int HGCMStream::commitBuffer(void* data, unsigned int length, unsigned int* pos) {
    if (pos == nullptr) {
        return -1;
    }
    if (length > kSpan - _pos) {
        _pos = 0;
    }
    *pos = _pos;
    char label[kLabelSize] = {0};
    snprintf(label, sizeof(label), "%s:%d", _name, static_cast<int>(_pos));
    return writeValue(label, data, length);
}

int HGCMStream::_VbglR3GuestPropWriteValue(void* data, unsigned int length, char* name,
                                           unsigned int index) {
    char label[kLabelSize] = {0};
    snprintf(label, sizeof(label), "%s:%d", name, static_cast<int>(index));
    return writeValue(label, data, length);
}

int HGCMStream::freeBuffer(char* name) {
    const Parameter parameters[1] = {{name, textSize(name)}};
    return call(kFree, parameters, 1, 2);
}

int HGCMStream::sendData1(void* data, unsigned int length) {
    char label[kLabelSize] = {0};
    snprintf(label, sizeof(label), "%s:%d", "sendData", static_cast<int>(length));
    const Parameter parameters[3] = {
        {label, textSize(label)}, {data, length}, {kToHost, textSize(kToHost)}};
    return call(kSend, parameters, 3, 3);
}

int HGCMStream::recvData(void* buffer, unsigned int length) {
    _pos = 0;
    char label[kLabelSize] = {0};
    snprintf(label, sizeof(label), "%s:%d:%d", "sendData", static_cast<int>(length), 40);
    const Parameter parameters[3] = {
        {label, textSize(label)}, {buffer, length + 4}, {kToGuest, textSize(kToGuest)}};
    return call(kReceive, parameters, 3, 3);
}

int HGCMStream::mapBuffer(void* buffer, unsigned int length) {
    static const char kLabel[] = "mapBuffer";
    const Parameter parameters[2] = {{kLabel, sizeof(kLabel)}, {buffer, length}};
    return call(kMap, parameters, 2, 2);
}
