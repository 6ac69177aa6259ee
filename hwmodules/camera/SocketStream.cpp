#include "SocketStream.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <log/log.h>

namespace android {

namespace {
// A host that accepted the connection and then says nothing, or takes nothing, must not hold
// the caller (at boot, the camera service) for ever.
const int kQuietLimitSeconds = 10;
}  // namespace

CSocketStream::CSocketStream() : _socket(-1) {}

CSocketStream::~CSocketStream() {
    close();
}

int CSocketStream::open(const char* host, int port, int /*unused*/) {
    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    // Text that is not an address would leave it all zeros, which reaches this machine itself:
    // refuse it rather than connect somewhere nobody named.
    if (host == nullptr || inet_pton(AF_INET, host, &address.sin_addr) != 1) {
        return -1;
    }

    const int fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    close();
    _socket = fd;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    struct timeval limit;
    limit.tv_sec = kQuietLimitSeconds;
    limit.tv_usec = 0;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    return 0;
}

int CSocketStream::readFully(void* buffer, unsigned int length) {
    if (_socket == -1 || buffer == nullptr) {
        return -1;
    }
    unsigned char* p = static_cast<unsigned char*>(buffer);
    unsigned int done = 0;
    while (done < length) {
        const ssize_t n = ::recv(_socket, p + done, length - done, 0);
        if (n > 0) {
            done += static_cast<unsigned int>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                ALOGE("%s: The host sent nothing for %d s", "readFully", kQuietLimitSeconds);
            }
            return -1;
        }
    }
    return 0;
}

int CSocketStream::writeFully(const void* buffer, unsigned int length) {
    if (_socket == -1) {
        return -1;
    }
    const unsigned char* p = static_cast<const unsigned char*>(buffer);
    unsigned int done = 0;
    while (done < length) {
        // MSG_NOSIGNAL: a host that drops the connection must give an error, not kill the
        // camera service with SIGPIPE.
        const ssize_t n = ::send(_socket, p + done, length - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<unsigned int>(n);
        } else if (errno == EINTR) {
            continue;
        } else {
            ALOGE("%s: failed: %s\n", "writeFully", strerror(errno));
            return -1;
        }
    }
    return 0;
}

int CSocketStream::recv(void* buffer, unsigned int length) {
    if (_socket == -1) {
        return -1;
    }
    ssize_t n;
    do {
        n = ::recv(_socket, buffer, length, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int CSocketStream::close() {
    if (_socket != -1) {
        ::close(_socket);
        _socket = -1;
    }
    return 0;
}

}  // namespace android
