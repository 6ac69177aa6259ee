// The device "/dev/vboxguest" as the emulation provides it. Opening it, under any of the names
// the C library gives open, connects a socket to the host's guest-driver endpoint named by
// VEMO_HGCM_SOCKET; ioctl on such a descriptor carries the driver's HGCM requests over it. Every
// other path and descriptor goes to the C library unchanged.

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>

#include <vemo/hgcm_wire.h>

#include "DriverSession.h"
#include "GuestDriver.h"
#include "HandleTable.h"
#include "RealCalls.h"

namespace vemo {
namespace guest {

namespace {

const char kDevicePath[] = "/dev/vboxguest";
const int kDefaultTimeoutMs = 30000;

bool isDevice(const char* path) {
    return path != nullptr && strcmp(path, kDevicePath) == 0;
}

bool createsFile(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

int timeoutMs() {
    const char* value = getenv(VEMO_HGCM_TIMEOUT_ENV);
    if (value == nullptr || *value == '\0') {
        return kDefaultTimeoutMs;
    }
    char* end = nullptr;
    const long parsed = strtol(value, &end, 10);
    return *end == '\0' && parsed > 0 && parsed <= 24L * 3600 * 1000 ? static_cast<int>(parsed)
                                                                     : kDefaultTimeoutMs;
}

int openDevice(int flags) {
    const int timeout = timeoutMs();
    const int fd = DriverSession::connectEndpoint(getenv(VEMO_HGCM_SOCKET_ENV),
                                                  (flags & O_CLOEXEC) != 0, timeout);
    if (fd < 0) {
        return -1;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        const int error = errno;
        real::close(fd);
        errno = error;
        return -1;
    }
    HandleTable::instance().add(
        fd, std::make_shared<DriverSession>(status.st_dev, status.st_ino, timeout));
    return fd;
}

mode_t modeArgument(int flags, va_list arguments) {
    return createsFile(flags) ? static_cast<mode_t>(va_arg(arguments, unsigned int)) : 0;
}

}  // namespace

}  // namespace guest
}  // namespace vemo

using vemo::guest::HandleTable;
using vemo::guest::isDevice;
using vemo::guest::modeArgument;
using vemo::guest::openDevice;
namespace real = vemo::guest::real;

#define VEMO_EXPORT extern "C" __attribute__((visibility("default")))

VEMO_EXPORT int open(const char* path, int flags, ...) {
    if (isDevice(path)) {
        return openDevice(flags);
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return real::open(path, flags, mode);
}

VEMO_EXPORT int open64(const char* path, int flags, ...) {
    if (isDevice(path)) {
        return openDevice(flags);
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return real::open64(path, flags, mode);
}

// A relative path names the device only through a directory descriptor, which the emulation
// does not follow; the absolute path is the driver's name.
VEMO_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
    if (isDevice(path)) {
        return openDevice(flags);
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return real::openat(dirfd, path, flags, mode);
}

VEMO_EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
    if (isDevice(path)) {
        return openDevice(flags);
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return real::openat64(dirfd, path, flags, mode);
}

VEMO_EXPORT int __open_2(const char* path, int flags) {
    return isDevice(path) ? openDevice(flags) : real::open2(path, flags);
}

VEMO_EXPORT int __open64_2(const char* path, int flags) {
    return isDevice(path) ? openDevice(flags) : real::open64_2(path, flags);
}

VEMO_EXPORT int __openat_2(int dirfd, const char* path, int flags) {
    return isDevice(path) ? openDevice(flags) : real::openat2(dirfd, path, flags);
}

VEMO_EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
    return isDevice(path) ? openDevice(flags) : real::openat64_2(dirfd, path, flags);
}

VEMO_EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const std::shared_ptr<vemo::guest::DriverSession> session = HandleTable::instance().find(fd);
    if (session == nullptr) {
        return real::ioctl(fd, request, argument);
    }
    const int error = session->handle(fd, request, argument);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return 0;
}

// The number is forgotten before the C library releases it, so a descriptor opened in the
// meantime by another thread can't inherit the session.
VEMO_EXPORT int close(int fd) {
    HandleTable::instance().remove(fd);
    return real::close(fd);
}

VEMO_EXPORT int dup(int fd) {
    const int copy = real::dup(fd);
    if (copy >= 0) {
        HandleTable::instance().copy(fd, copy);
    }
    return copy;
}

VEMO_EXPORT int dup2(int fd, int target) {
    const int copy = real::dup2(fd, target);
    if (copy >= 0 && fd != target) {
        HandleTable::instance().copy(fd, copy);
    }
    return copy;
}

VEMO_EXPORT int dup3(int fd, int target, int flags) {
    const int copy = real::dup3(fd, target, flags);
    if (copy >= 0) {
        HandleTable::instance().copy(fd, copy);
    }
    return copy;
}
