#pragma once

// The C library's own versions of the functions the emulation replaces, found past the
// emulation in the process's symbol search order.

#include <sys/socket.h>

namespace vemo {
namespace guest {
namespace real {

// As connect(2). Fails with ENOSYS when no later library defines connect.
int connect(int fd, const struct sockaddr* address, socklen_t length);

}  // namespace real
}  // namespace guest
}  // namespace vemo
