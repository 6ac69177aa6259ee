#include "CtlServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "CtlProtocol.h"
#include "Log.h"
#include "SocketIo.h"
#include "UnixListener.h"

namespace vemo {
namespace host {

namespace {

constexpr const char* kName = "ctl socket";

bool isText(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
    });
}

bool sendReply(int fd, CtlReply& reply) {
    std::vector<iovec> pieces = reply.pieces();
    return sendAllv(fd, pieces.data(), pieces.size()) == 0;
}

}  // namespace

CtlServer::CtlServer(const CtlCommands& commands)
    : _commands(commands), _server(kName, [this](int fd, unsigned id) { serve(fd, id); }) {}

CtlServer::~CtlServer() {
    stop();
}

int CtlServer::start(const std::string& path) {
    const int fd = listenUnix(path, kName);
    if (fd < 0) {
        return fd;
    }
    _path = path;
    const int adopted = _server.adopt(fd);
    if (adopted != 0) {
        ::unlink(_path.c_str());
        _path.clear();
        return adopted;
    }
    logLine(LogLevel::kInfo, "%s: listening at %s", kName, _path.c_str());
    return 0;
}

void CtlServer::stop() {
    _server.stop();
    if (!_path.empty()) {
        ::unlink(_path.c_str());
        _path.clear();
    }
}

void CtlServer::serve(int fd, unsigned id) {
    std::string pending;  // received bytes not yet taken as a request
    char buffer[ctl::kMaxRequestLine];
    for (;;) {
        size_t end = pending.find('\n');
        while (end == std::string::npos && pending.size() < ctl::kMaxRequestLine) {
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            pending.append(buffer, static_cast<size_t>(n));
            end = pending.find('\n');
        }
        CtlReply reply;
        if (end == std::string::npos || end >= ctl::kMaxRequestLine) {
            reply.fail("request line longer than " + std::to_string(ctl::kMaxRequestLine) +
                       " bytes");
            sendReply(fd, reply);
            return;
        }
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!isText(line)) {
            reply.fail("request is not a line of printable text");
            sendReply(fd, reply);
            return;
        }
        logLine(LogLevel::kDebug, "%s conn %u: %s", kName, id, line.c_str());
        _commands.run(line, &reply);
        if (!sendReply(fd, reply)) {
            return;
        }
    }
}

}  // namespace host
}  // namespace vemo
