#pragma once

// One open "/dev/vboxguest" of the emulation: a Unix stream socket to the host's guest-driver
// endpoint, over which each HGCM request of the program becomes one exchange of the wire
// (vemo/hgcm_wire.h). The host reads and writes the guest memory of a call's parameters
// through READ and WRITE; the bytes move between the socket and that memory directly.

#include <sys/types.h>

#include <mutex>

#include "DriverRequest.h"

namespace vemo {
namespace guest {

class DriverSession {
public:
    // Connects a new socket to the endpoint at path, with the time-out of every later wait on
    // it. Returns the descriptor, or -1 with errno: ENOENT when there is no path or nothing
    // listens there, as on a guest without the driver.
    static int connectEndpoint(const char* path, bool closeOnExec, int timeoutMs);

    // The session of the socket with this identity (device and inode numbers).
    DriverSession(dev_t device, ino_t inode);

    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    // True when a descriptor with this identity is the session's socket.
    bool isSocket(dev_t device, ino_t inode) const { return device == _device && inode == _inode; }

    // Carries out request number on fd, a descriptor of the session's socket, and fills in its
    // results. Returns 0, or the errno value of a failed ioctl: EINVAL for an unknown number or
    // a malformed request, EFAULT for a null request, EIO once the endpoint broke the wire
    // (every later request fails with EIO as well). Requests from several threads follow one
    // another. Takes the session's lock; must not be called with it held.
    int handle(int fd, unsigned long number, void* request);

private:
    // Each runs with _lock held and returns 0 or EIO; a failure breaks the session.
    int connect(int fd, void* request);
    int disconnect(int fd, void* request);
    int call(int fd, CallRequest& call);
    int serve(int fd, CallRequest& call);
    int fail(int fd);

    const dev_t _device;
    const ino_t _inode;
    std::mutex _lock;
    bool _broken = false;  // guarded by _lock
};

}  // namespace guest
}  // namespace vemo
