#include "SocketIo.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

RecvStatus SocketReader::read(void* dst, size_t size, size_t* received) {
    uint8_t* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    while (done < size) {
        if (_begin < _end) {
            const size_t n = std::min(_end - _begin, size - done);
            std::memcpy(out + done, _buffer.get() + _begin, n);
            _begin += n;
            done += n;
            continue;
        }
        if (size - done >= kBufferSize) {
            size_t direct = 0;
            const RecvStatus status = recvExactly(_fd, out + done, size - done, &direct);
            *received = done + direct;
            return status;
        }
        // Waiting in poll rather than in recv: a reader blocked in recv is woken for nothing
        // each time the peer takes bytes that the reader sent, here every answer.
        waitReadable(_fd);
        const ssize_t n = ::recv(_fd, _buffer.get(), kBufferSize, 0);
        if (n > 0) {
            _begin = 0;
            _end = static_cast<size_t>(n);
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
    iovec piece{const_cast<void*>(data), size};
    return sendAllv(fd, &piece, 1, maxPerSend);
}

int sendAllv(int fd, iovec* pieces, size_t count, size_t maxPerSend) {
    while (count > 0) {
        ssize_t n = 0;
        if (maxPerSend == SIZE_MAX) {
            msghdr message{};
            message.msg_iov = pieces;
            message.msg_iovlen = count;
            n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        } else {
            n = ::send(fd, pieces->iov_base, std::min(pieces->iov_len, maxPerSend), MSG_NOSIGNAL);
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        // Pieces sent whole, empty ones included, are done with.
        auto sent = static_cast<size_t>(n);
        while (count > 0 && sent >= pieces->iov_len) {
            sent -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<uint8_t*>(pieces->iov_base) + sent;
            pieces->iov_len -= sent;
        }
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

bool unreadOrHungUp(int fd) {
    // POLLIN also stands for the end of the stream, which is a hang-up as well.
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 &&
           (p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace host
}  // namespace vemo
