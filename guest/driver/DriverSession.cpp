#include "DriverSession.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <algorithm>

#include "RealCalls.h"
#include "Wire.h"

namespace vemo {
namespace guest {

namespace {

// A host that keeps a call going with endless READs and WRITEs is as broken as a silent one.
const unsigned kMaxHostMessages = 1u << 20;

int sendAll(int fd, struct iovec* parts, size_t count) {
    while (count > 0) {
        struct msghdr message;
        memset(&message, 0, sizeof(message));
        message.msg_iov = parts;
        message.msg_iovlen = std::min<size_t>(count, IOV_MAX);
        const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return -1;
        }
        size_t left = static_cast<size_t>(sent);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<unsigned char*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return 0;
}

int sendBytes(int fd, const void* bytes, size_t size) {
    struct iovec part = {const_cast<void*>(bytes), size};
    return sendAll(fd, &part, 1);
}

// Fails on the end of the stream, an error or the socket's time-out.
int receiveExactly(int fd, void* destination, size_t size) {
    unsigned char* at = static_cast<unsigned char*>(destination);
    while (size > 0) {
        const ssize_t received = recv(fd, at, size, MSG_WAITALL);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            return -1;
        }
        at += received;
        size -= static_cast<size_t>(received);
    }
    return 0;
}

// Waits up to timeoutMs for bytes (or the end of the stream) to read. A reader blocked in recv
// is woken each time the peer takes bytes that the reader sent; one that waits in poll for
// input only is not, so the host's reading of a request does not wake the guest for nothing.
int waitReadable(int fd, int timeoutMs) {
    struct pollfd ready = {fd, POLLIN, 0};
    for (;;) {
        const int polled = poll(&ready, 1, timeoutMs);
        if (polled > 0) {
            return 0;
        }
        if (polled == 0 || errno != EINTR) {
            return -1;
        }
    }
}

}  // namespace

int DriverSession::receive(int fd, void* destination, size_t size) {
    unsigned char* at = static_cast<unsigned char*>(destination);
    while (size > 0) {
        if (_inboxBegin < _inboxEnd) {
            const size_t part = std::min(size, _inboxEnd - _inboxBegin);
            if (at != nullptr) {
                memcpy(at, _inbox + _inboxBegin, part);
                at += part;
            }
            _inboxBegin += part;
            size -= part;
            continue;
        }
        if (at != nullptr && size >= kInboxSize) {
            return receiveExactly(fd, at, size);
        }
        if (waitReadable(fd, _timeoutMs) != 0) {
            return -1;
        }
        const ssize_t received = recv(fd, _inbox, kInboxSize, MSG_DONTWAIT);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            return -1;
        }
        _inboxBegin = 0;
        _inboxEnd = static_cast<size_t>(received);
    }
    return 0;
}

int DriverSession::receiveHostMessage(int fd, wire::HostMessage* message) {
    unsigned char op[wire::kOpSize];
    if (receive(fd, op, sizeof(op)) != 0) {
        return -1;
    }
    const uint32_t code = wire::loadU32(op);
    const size_t size = wire::hostBodySize(code);
    unsigned char body[wire::kMaxHostBodySize];
    if (size == 0 || receive(fd, body, size) != 0) {
        return -1;
    }
    *message = wire::decodeHostMessage(code, body);
    return 0;
}

int DriverSession::connectEndpoint(const char* path, bool closeOnExec, int timeoutMs) {
    struct sockaddr_un address;
    memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path == nullptr || *path == '\0' || strlen(path) >= sizeof(address.sun_path)) {
        errno = ENOENT;
        return -1;
    }
    memcpy(address.sun_path, path, strlen(path));
    const int fd = socket(AF_UNIX, SOCK_STREAM | (closeOnExec ? SOCK_CLOEXEC : 0), 0);
    if (fd < 0) {
        return -1;
    }
    const struct timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout)) != 0) {
        const int error = errno;
        real::close(fd);
        errno = error;
        return -1;
    }
    if (real::connect(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof(address)) !=
        0) {
        real::close(fd);
        errno = ENOENT;
        return -1;
    }
    return fd;
}

DriverSession::DriverSession(dev_t device, ino_t inode, int timeoutMs)
    : _device(device), _inode(inode), _timeoutMs(timeoutMs) {}

int DriverSession::handle(int fd, unsigned long number, void* request) {
    const RequestKind kind = requestKind(number);
    if (kind == RequestKind::kUnknown) {
        return EINVAL;
    }
    if (request == nullptr) {
        return EFAULT;
    }
    CallRequest decoded;
    if (kind == RequestKind::kCall) {
        const int error = decodeCall(number, request, &decoded);
        if (error != 0) {
            return error;
        }
    }
    std::lock_guard<std::mutex> guard(_lock);
    if (_broken) {
        return EIO;
    }
    switch (kind) {
        case RequestKind::kConnect:
            return connect(fd, request);
        case RequestKind::kDisconnect:
            return disconnect(fd, request);
        default:
            return call(fd, decoded);
    }
}

int DriverSession::fail(int fd) {
    _broken = true;
    shutdown(fd, SHUT_RDWR);
    return EIO;
}

int DriverSession::connect(int fd, void* request) {
    VBoxGuestHGCMConnectInfo info;
    memcpy(&info, request, sizeof(info));
    const int error = checkConnect(info);
    if (error != 0) {
        return error;
    }
    // The location type goes as the number the caller put there, whatever it is.
    uint32_t locationType = 0;
    memcpy(&locationType,
           static_cast<unsigned char*>(request) + offsetof(VBoxGuestHGCMConnectInfo, Loc.type),
           sizeof(locationType));
    unsigned char message[wire::kConnectSize];
    wire::encodeConnect(locationType, info.Loc.u.host.achName, message);
    wire::HostMessage answer;
    if (sendBytes(fd, message, sizeof(message)) != 0 || receiveHostMessage(fd, &answer) != 0 ||
        answer.op != VEMO_HGCM_OP_RESULT) {
        return fail(fd);
    }
    // As the driver does, the client id is only given back when the host accepted the client.
    unsigned char* bytes = static_cast<unsigned char*>(request);
    memcpy(bytes + offsetof(VBoxGuestHGCMConnectInfo, result), &answer.status,
           sizeof(answer.status));
    if (answer.status >= 0) {
        memcpy(bytes + offsetof(VBoxGuestHGCMConnectInfo, u32ClientID), &answer.clientId,
               sizeof(answer.clientId));
    }
    return 0;
}

int DriverSession::disconnect(int fd, void* request) {
    VBoxGuestHGCMDisconnectInfo info;
    memcpy(&info, request, sizeof(info));
    unsigned char message[wire::kDisconnectSize];
    wire::encodeDisconnect(info.u32ClientID, message);
    wire::HostMessage answer;
    if (sendBytes(fd, message, sizeof(message)) != 0 || receiveHostMessage(fd, &answer) != 0 ||
        answer.op != VEMO_HGCM_OP_RESULT) {
        return fail(fd);
    }
    memcpy(static_cast<unsigned char*>(request) + offsetof(VBoxGuestHGCMDisconnectInfo, result),
           &answer.status, sizeof(answer.status));
    return 0;
}

int DriverSession::call(int fd, CallRequest& call) {
    // The header, then each parameter's header and, when inline, its bytes straight from the
    // guest's memory.
    unsigned char header[wire::kCallHeaderSize];
    unsigned char parameterHeaders[VEMO_HGCM_MAX_PARMS][wire::kParameterHeaderSize];
    struct iovec parts[1 + 2 * VEMO_HGCM_MAX_PARMS];
    size_t count = 0;
    wire::encodeCallHeader(call, header);
    parts[count++] = {header, sizeof(header)};
    for (uint32_t i = 0; i < call.count; ++i) {
        const CallParameter& parameter = call.parameters[i];
        wire::encodeParameterHeader(parameter, parameterHeaders[i]);
        parts[count++] = {parameterHeaders[i], wire::kParameterHeaderSize};
        if (wire::isInline(parameter) && parameter.size > 0) {
            parts[count++] = {parameter.bytes, parameter.size};
        }
    }
    if (sendAll(fd, parts, count) != 0) {
        return fail(fd);
    }
    return serve(fd, call);
}

int DriverSession::serve(int fd, CallRequest& call) {
    for (unsigned n = 0; n < kMaxHostMessages; ++n) {
        wire::HostMessage message;
        if (receiveHostMessage(fd, &message) != 0) {
            return fail(fd);
        }
        const CallParameter* parameter =
            message.index < call.count ? &call.parameters[message.index] : nullptr;
        switch (message.op) {
            case VEMO_HGCM_OP_DONE:
                storeCallResult(call, message.status);
                return 0;
            case VEMO_HGCM_OP_READ: {
                const bool allowed = parameter != nullptr && parameter->hostReads &&
                                     wire::rangeWithin(*parameter, message.offset, message.length);
                unsigned char status[4];
                wire::storeU32(status, allowed ? 0 : 0xFFFFFFFFu);
                struct iovec parts[2] = {{status, sizeof(status)}, {nullptr, 0}};
                if (allowed) {
                    parts[1] = {parameter->bytes + message.offset, message.length};
                }
                if (sendAll(fd, parts, allowed && message.length > 0 ? 2 : 1) != 0) {
                    return fail(fd);
                }
                break;
            }
            case VEMO_HGCM_OP_WRITE: {
                if (message.length > VEMO_HGCM_MAX_PARM_SIZE) {
                    return fail(fd);
                }
                const bool allowed = parameter != nullptr && parameter->hostWrites &&
                                     wire::rangeWithin(*parameter, message.offset, message.length);
                const int received =
                    allowed ? receive(fd, parameter->bytes + message.offset, message.length)
                            : receive(fd, nullptr, message.length);
                if (received != 0) {
                    return fail(fd);
                }
                break;
            }
            default:
                return fail(fd);
        }
    }
    return fail(fd);
}

}  // namespace guest
}  // namespace vemo
