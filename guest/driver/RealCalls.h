#pragma once

// The C library's own versions of the functions the emulation replaces, found past the
// emulation in the process's symbol search order. Each fails with ENOSYS when no later library
// defines it.

#include <sys/socket.h>
#include <sys/types.h>

namespace vemo {
namespace guest {
namespace real {

// As connect(2).
int connect(int fd, const struct sockaddr* address, socklen_t length);

// As open(2) and its relatives; mode is only passed on, as the C library's own wrapper
// expects it when flags create a file.
int open(const char* path, int flags, mode_t mode);
int open64(const char* path, int flags, mode_t mode);
int openat(int dirfd, const char* path, int flags, mode_t mode);
int openat64(int dirfd, const char* path, int flags, mode_t mode);
// The checking variants that a fortified build calls when the flags are not known at compile
// time.
int open2(const char* path, int flags);
int open64_2(const char* path, int flags);
int openat2(int dirfd, const char* path, int flags);
int openat64_2(int dirfd, const char* path, int flags);

int ioctl(int fd, unsigned long request, void* argument);
int close(int fd);
int dup(int fd);
int dup2(int fd, int target);
int dup3(int fd, int target, int flags);

}  // namespace real
}  // namespace guest
}  // namespace vemo
