#pragma once

// Whole transfers on a blocking socket, for the raw bounds the benchmarks measure against.

#include <stddef.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace vemo {
namespace bench {

inline bool readExactly(int fd, unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t r = recv(fd, p, n, 0);
        if (r <= 0) {
            return false;
        }
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

inline bool writeAll(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0) {
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace bench
}  // namespace vemo
