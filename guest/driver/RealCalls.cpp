#include "RealCalls.h"

#include <dlfcn.h>
#include <errno.h>

namespace vemo {
namespace guest {
namespace real {

namespace {

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

int connect(int fd, const struct sockaddr* address, socklen_t length) {
    using Connect = int (*)(int, const struct sockaddr*, socklen_t);
    static const Connect libcConnect = next<Connect>("connect");
    if (libcConnect == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return libcConnect(fd, address, length);
}

}  // namespace real
}  // namespace guest
}  // namespace vemo
