// Plays a guest driver handle whose every byte is arbitrary against the host's end of the
// guest-driver wire and the HGCM service behind it: connects, calls with any parameters, and the
// answers to the host's READs all come from the input. The host must end the handle cleanly
// (never crash, never wait for bytes that cannot come) and forget its clients afterwards.

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "ClientTable.h"
#include "HgcmChannel.h"
#include "HgcmService.h"
#include "HostState.h"
#include "Log.h"

namespace {

// Input beyond this would not fit the socket's buffer before the host reads it.
constexpr size_t kMaxInput = 64 * 1024;

vemo::host::HostConfig gConfig = vemo::host::HostConfig::withCameras(1);
vemo::host::HostState gState(gConfig);
vemo::host::ClientTable gClients(gState);
vemo::host::HgcmService gService(gState, gClients);
unsigned gHandle = 0;

// Reads whatever the host sends to a handle until its end, so that the host never waits on a
// full socket. One thread for the whole run: a thread per input cost more than the input.
class Drain {
public:
    Drain() {
        std::thread([this] { loop(); }).detach();
    }

    void start(int fd) {
        std::lock_guard<std::mutex> guard(_lock);
        _fd = fd;
        _done = false;
        _changed.notify_all();
    }

    void finish() {
        std::unique_lock<std::mutex> lock(_lock);
        _changed.wait(lock, [this] { return _done; });
    }

private:
    void loop() {
        for (;;) {
            std::unique_lock<std::mutex> lock(_lock);
            _changed.wait(lock, [this] { return _fd >= 0; });
            const int fd = _fd;
            lock.unlock();
            char sink[4096];
            while (recv(fd, sink, sizeof(sink), 0) > 0) {
            }
            lock.lock();
            _fd = -1;
            _done = true;
            _changed.notify_all();
        }
    }

    std::mutex _lock;
    std::condition_variable _changed;
    int _fd = -1;
    bool _done = true;
};

// Never destroyed: its thread runs until the process ends.
Drain* gDrain = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vemo::host::setLogLevel(vemo::host::LogLevel::kError);
    gDrain = new Drain();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        __builtin_trap();
    }
    const int bufferSize = 4 * kMaxInput;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof(bufferSize));
    if (size > 0 && send(fds[1], data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
        __builtin_trap();
    }
    shutdown(fds[1], SHUT_WR);
    gDrain->start(fds[1]);
    const unsigned handle = ++gHandle;
    vemo::host::HgcmChannel(fds[0], handle, gService).run();
    shutdown(fds[0], SHUT_RDWR);
    gDrain->finish();
    close(fds[0]);
    close(fds[1]);
    if (!gClients.clientsOf(handle).empty()) {
        __builtin_trap();
    }
    return 0;
}
