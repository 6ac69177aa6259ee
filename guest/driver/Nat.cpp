// The virtual machine's NAT as the guest sees it. The host alias 10.0.2.2 is the host's
// loopback address; the host's service ports 10072 and 10088 can be forwarded to other
// loopback ports (VEMO_NAT_PORT_10072, VEMO_NAT_PORT_10088, read at every connect), so that
// several host services run side by side. Nothing beyond this machine is reachable: a connect
// to any other address that is not a loopback address fails with ENETUNREACH.

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include "RealCalls.h"

namespace vemo {
namespace guest {

namespace {

const uint32_t kHostAlias = 0x0A000202;  // 10.0.2.2
const uint16_t kServicePorts[] = {10072, 10088};

bool isLoopback(uint32_t address) {
    return (address >> 24) == 127;
}

bool isServicePort(uint16_t port) {
    for (const uint16_t service : kServicePorts) {
        if (port == service) {
            return true;
        }
    }
    return false;
}

// Applies the forwarding of a service port (network byte order, in place). Returns 0, or
// EINVAL when the variable holds no port number: guessing a port could reach another host
// service than the one meant.
int forwardPort(in_port_t& port) {
    const uint16_t service = ntohs(port);
    if (!isServicePort(service)) {
        return 0;
    }
    char name[32];
    snprintf(name, sizeof(name), "VEMO_NAT_PORT_%u", static_cast<unsigned>(service));
    const char* value = getenv(name);
    if (value == nullptr || *value == '\0') {
        return 0;
    }
    char* end = nullptr;
    const long target = strtol(value, &end, 10);
    if (*end != '\0' || target < 1 || target > 65535) {
        fprintf(stderr, "vemo_guestdrv: %s=%s is not a port number\n", name, value);
        return EINVAL;
    }
    port = htons(static_cast<uint16_t>(target));
    return 0;
}

// Translates one IPv4 destination in place. Returns 0 when the connect may go ahead, or the
// errno value that refuses it.
int translate(in_addr& address, in_port_t& port) {
    const uint32_t host = ntohl(address.s_addr);
    if (isLoopback(host)) {
        return 0;
    }
    if (host != kHostAlias) {
        return ENETUNREACH;
    }
    address.s_addr = htonl(INADDR_LOOPBACK);
    return forwardPort(port);
}

int connectInet(int fd, const struct sockaddr* address) {
    struct sockaddr_in destination;
    memcpy(&destination, address, sizeof(destination));
    const int error = translate(destination.sin_addr, destination.sin_port);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return real::connect(fd, reinterpret_cast<const struct sockaddr*>(&destination),
                         sizeof(destination));
}

// IPv6 follows the same rules: its loopback passes, an IPv4-mapped address is treated as the
// IPv4 address it carries, and everything else is off the machine. The system accepts the
// address without its last field (scope id), so length may be shorter than the structure.
int connectInet6(int fd, const struct sockaddr* address, socklen_t length) {
    struct sockaddr_in6 destination;
    memset(&destination, 0, sizeof(destination));
    const socklen_t used = length < sizeof(destination) ? length : sizeof(destination);
    memcpy(&destination, address, used);
    if (IN6_IS_ADDR_LOOPBACK(&destination.sin6_addr)) {
        return real::connect(fd, address, length);
    }
    if (!IN6_IS_ADDR_V4MAPPED(&destination.sin6_addr)) {
        errno = ENETUNREACH;
        return -1;
    }
    in_addr mapped;
    memcpy(&mapped, &destination.sin6_addr.s6_addr[12], sizeof(mapped));
    const int error = translate(mapped, destination.sin6_port);
    if (error != 0) {
        errno = error;
        return -1;
    }
    memcpy(&destination.sin6_addr.s6_addr[12], &mapped, sizeof(mapped));
    return real::connect(fd, reinterpret_cast<const struct sockaddr*>(&destination), used);
}

}  // namespace

}  // namespace guest
}  // namespace vemo

// Addresses too short for their family go to the C library unchanged, which refuses them.
extern "C" __attribute__((visibility("default"))) int connect(int fd,
                                                              const struct sockaddr* address,
                                                              socklen_t length) {
    if (address != nullptr && address->sa_family == AF_INET &&
        length >= sizeof(struct sockaddr_in)) {
        return vemo::guest::connectInet(fd, address);
    }
    if (address != nullptr && address->sa_family == AF_INET6 &&
        length >= offsetof(struct sockaddr_in6, sin6_scope_id)) {
        return vemo::guest::connectInet6(fd, address, length);
    }
    return vemo::guest::real::connect(fd, address, length);
}
