#include "SocketIo.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace vemo {
namespace host {

RecvStatus recvExactly(int fd, void* dst, size_t size, size_t* received) {
    uint8_t* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(fd, out + done, size - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        *received = done;
        return n == 0 ? RecvStatus::kClosed : RecvStatus::kError;
    }
    *received = done;
    return RecvStatus::kDone;
}

int sendAll(int fd, const void* data, size_t size, size_t maxPerSend) {
    const uint8_t* in = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, in, std::min(size, maxPerSend), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        in += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

bool peerHungUp(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void waitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

bool hasUnreadBytes(int fd) {
    int pending = 0;
    return ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0;
}

}  // namespace host
}  // namespace vemo
