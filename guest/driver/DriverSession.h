#pragma once

// One open "/dev/vboxguest" of the emulation: a Unix stream socket to the host's guest-driver
// endpoint, over which each HGCM request of the program becomes one exchange of the wire
// (vemo/hgcm_wire.h). The host reads and writes the guest memory of a call's parameters
// through READ and WRITE. The host's messages are read through a buffer of the session, so that
// the WRITEs and the DONE of a call that arrive together take one recv; the data of a large
// WRITE goes from the socket into the guest memory directly once the buffered part is used up.

#include <stddef.h>
#include <sys/types.h>

#include <mutex>

#include "DriverRequest.h"
#include "Wire.h"

namespace vemo {
namespace guest {

class DriverSession {
public:
    // Connects a new socket to the endpoint at path, with the time-out of every later wait on
    // it. Returns the descriptor, or -1 with errno: ENOENT when there is no path or nothing
    // listens there, as on a guest without the driver.
    static int connectEndpoint(const char* path, bool closeOnExec, int timeoutMs);

    // The session of the socket with this identity (device and inode numbers), connected with
    // the time-out timeoutMs.
    DriverSession(dev_t device, ino_t inode, int timeoutMs);

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

    // Reading what the host sent, with _lock held; each returns 0, or -1 on the end of the
    // stream, an error or the time-out.
    // Exactly size bytes into destination (dropped when it is null): the buffered ones first;
    // what is still missing comes straight into destination when it is a buffer's worth or
    // more, else through the buffer.
    int receive(int fd, void* destination, size_t size);
    // One host message up to its data; -1 also for an op the wire lacks.
    int receiveHostMessage(int fd, wire::HostMessage* message);

    static const size_t kInboxSize = 16 * 1024;

    const dev_t _device;
    const ino_t _inode;
    const int _timeoutMs;
    std::mutex _lock;
    bool _broken = false;  // guarded by _lock
    // Bytes the host sent that no message has taken yet: [_inboxBegin, _inboxEnd).
    unsigned char _inbox[kInboxSize];  // guarded by _lock
    size_t _inboxBegin = 0;            // guarded by _lock
    size_t _inboxEnd = 0;              // guarded by _lock
};

}  // namespace guest
}  // namespace vemo
