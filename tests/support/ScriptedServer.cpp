#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "support/LittleEndian.h"
#include "support/LoopbackSockets.h"

namespace vemo {
namespace test {

namespace {

void setTimeouts(int fd) {
    struct timeval tv = {5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

}  // namespace

ScriptedServer::ScriptedServer(Script script, int connections) : _listener(-1), _port(0) {
    _listener = bindLoopback(&_port);
    if (_listener < 0 || listen(_listener, 8) != 0) {
        close(_listener);
        throw std::runtime_error("listen failed");
    }
    setTimeouts(_listener);
    _thread = std::thread([this, script, connections] {
        for (int i = 0; i < connections; ++i) {
            const int fd = accept(_listener, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            setTimeouts(fd);
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
            script(fd);
            close(fd);
        }
    });
}

ScriptedServer::~ScriptedServer() {
    join();
    close(_listener);
}

void ScriptedServer::join() {
    if (_thread.joinable()) {
        _thread.join();
    }
}

bool ScriptedServer::readExactly(int fd, Bytes* out, size_t n) {
    out->resize(n);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = recv(fd, out->data() + done, n - done, 0);
        if (r <= 0) {
            return false;
        }
        done += static_cast<size_t>(r);
    }
    return true;
}

bool ScriptedServer::writeAll(int fd, const Bytes& bytes, size_t chunk) {
    size_t done = 0;
    while (done < bytes.size()) {
        size_t n = bytes.size() - done;
        if (chunk != 0 && n > chunk) {
            n = chunk;
        }
        const ssize_t w = send(fd, bytes.data() + done, n, MSG_NOSIGNAL);
        if (w <= 0) {
            return false;
        }
        done += static_cast<size_t>(w);
        if (chunk != 0) {
            // Give each piece a segment of its own.
            usleep(200);
        }
    }
    return true;
}

bool ScriptedServer::readPacket(int fd, Bytes* payload) {
    Bytes prefix;
    return readExactly(fd, &prefix, 4) && readExactly(fd, payload, loadLe32(prefix.data()));
}

ScriptedServer::Bytes ScriptedServer::packet(const Bytes& payload) {
    return lengthPrefixed(payload);
}

}  // namespace test
}  // namespace vemo
