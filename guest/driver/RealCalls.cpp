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

// Calls function with args; fails with ENOSYS when nothing defined it.
template <typename Function, typename... Args>
int invoke(Function function, Args... args) {
    if (function == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return function(args...);
}

using Open = int (*)(const char*, int, ...);
using OpenAt = int (*)(int, const char*, int, ...);
using Open2 = int (*)(const char*, int);
using OpenAt2 = int (*)(int, const char*, int);

}  // namespace

// Each function is looked up once, at its first use.
int connect(int fd, const struct sockaddr* address, socklen_t length) {
    using Connect = int (*)(int, const struct sockaddr*, socklen_t);
    static const Connect libcConnect = next<Connect>("connect");
    return invoke(libcConnect, fd, address, length);
}

int open(const char* path, int flags, mode_t mode) {
    static const Open libcOpen = next<Open>("open");
    return invoke(libcOpen, path, flags, mode);
}

int open64(const char* path, int flags, mode_t mode) {
    static const Open libcOpen64 = next<Open>("open64");
    return invoke(libcOpen64, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, mode_t mode) {
    static const OpenAt libcOpenAt = next<OpenAt>("openat");
    return invoke(libcOpenAt, dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, mode_t mode) {
    static const OpenAt libcOpenAt64 = next<OpenAt>("openat64");
    return invoke(libcOpenAt64, dirfd, path, flags, mode);
}

int open2(const char* path, int flags) {
    static const Open2 libcOpen2 = next<Open2>("__open_2");
    return invoke(libcOpen2, path, flags);
}

int open64_2(const char* path, int flags) {
    static const Open2 libcOpen64_2 = next<Open2>("__open64_2");
    return invoke(libcOpen64_2, path, flags);
}

int openat2(int dirfd, const char* path, int flags) {
    static const OpenAt2 libcOpenAt2 = next<OpenAt2>("__openat_2");
    return invoke(libcOpenAt2, dirfd, path, flags);
}

int openat64_2(int dirfd, const char* path, int flags) {
    static const OpenAt2 libcOpenAt64_2 = next<OpenAt2>("__openat64_2");
    return invoke(libcOpenAt64_2, dirfd, path, flags);
}

int ioctl(int fd, unsigned long request, void* argument) {
    using Ioctl = int (*)(int, unsigned long, ...);
    static const Ioctl libcIoctl = next<Ioctl>("ioctl");
    return invoke(libcIoctl, fd, request, argument);
}

int close(int fd) {
    using Close = int (*)(int);
    static const Close libcClose = next<Close>("close");
    return invoke(libcClose, fd);
}

int dup(int fd) {
    using Dup = int (*)(int);
    static const Dup libcDup = next<Dup>("dup");
    return invoke(libcDup, fd);
}

int dup2(int fd, int target) {
    using Dup2 = int (*)(int, int);
    static const Dup2 libcDup2 = next<Dup2>("dup2");
    return invoke(libcDup2, fd, target);
}

int dup3(int fd, int target, int flags) {
    using Dup3 = int (*)(int, int, int);
    static const Dup3 libcDup3 = next<Dup3>("dup3");
    return invoke(libcDup3, fd, target, flags);
}

}  // namespace real
}  // namespace guest
}  // namespace vemo
