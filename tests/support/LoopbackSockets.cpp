#include "support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vemo {
namespace test {

int bindLoopback(int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(fd, reinterpret_cast<struct sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

LoopbackListener::LoopbackListener() {
    _fd = bindLoopback(&_port);
    if (_fd >= 0 && listen(_fd, 8) != 0) {
        close(_fd);
        _fd = -1;
        _port = -1;
    }
}

LoopbackListener::~LoopbackListener() {
    if (_fd >= 0) {
        close(_fd);
    }
}

std::string LoopbackListener::accept(int timeoutMs) {
    struct pollfd ready = {_fd, POLLIN, 0};
    if (_fd < 0 || poll(&ready, 1, timeoutMs) != 1) {
        return std::string();
    }
    struct sockaddr_in peer;
    socklen_t length = sizeof(peer);
    const int connection = ::accept(_fd, reinterpret_cast<struct sockaddr*>(&peer), &length);
    if (connection < 0) {
        return std::string();
    }
    close(connection);
    char text[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof(text));
    return text;
}

RefusingPort::RefusingPort() {
    _fd = bindLoopback(&_port);
}

RefusingPort::~RefusingPort() {
    if (_fd >= 0) {
        close(_fd);
    }
}

bool guestNatActive() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(9);
    const bool refused =
        connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) != 0 &&
        errno == ENETUNREACH;
    close(fd);
    return refused;
}

}  // namespace test
}  // namespace vemo
