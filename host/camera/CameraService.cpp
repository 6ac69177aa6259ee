#include "CameraService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "FaultPlan.h"
#include "Log.h"
#include "PacketStream.h"
#include "Session.h"
#include "SocketIo.h"

namespace vemo {
namespace host {

namespace {

std::string peerOf(int fd) {
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    char text[INET_ADDRSTRLEN] = "?";
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET) {
        return "?";
    }
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof(text));
    return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

}  // namespace

CameraService::CameraService(HostState& state)
    : _state(state),
      _server(
          "camera service", [this](int fd, unsigned id) { serve(fd, id); },
          state.config.limits.idleLimitMs) {}

void CameraService::serve(int fd, unsigned id) {
    const std::string label = "conn " + std::to_string(id);
    FaultPlan faults(_state.config.faults, _state.requests);
    if (faults.refuses()) {
        logLine(LogLevel::kDebug, "%s: refused (refuse fault)", label.c_str());
        return;
    }
    const std::string who = "conn=" + std::to_string(id);
    Session session(_state, label);
    {
        std::lock_guard<std::mutex> guard(_lock);
        _connections[id] = Connection{peerOf(fd), &session};
    }
    // Whichever way serving ends, the connection leaves the list before its session goes.
    struct Listed {
        CameraService* service;
        unsigned id;
        ~Listed() {
            std::lock_guard<std::mutex> guard(service->_lock);
            service->_connections.erase(id);
        }
    } listed{this, id};
    PacketStream stream(fd);
    std::vector<uint8_t> request;
    PacketBuffer reply;
    std::string fault;
    bool settled = false;
    for (;;) {
        const ReadResult read = stream.read(&request);
        if (read.status == ReadStatus::kClosed) {
            logLine(LogLevel::kDebug, "%s: closed by peer", label.c_str());
            return;
        }
        if (read.status != ReadStatus::kPacket) {
            logLine(LogLevel::kWarning, "%s: closed: %s", label.c_str(), read.describe().c_str());
            return;
        }
        _state.record.request(who, request.data(), request.size());
        const bool last = faults.takeRequest();
        if (faults.answers()) {
            if (!session.handle(request.data(), request.size(), &reply, &fault)) {
                logLine(LogLevel::kWarning, "%s: closed: %s", label.c_str(), fault.c_str());
                return;
            }
            if (!settled && session.hasInstance()) {
                _server.settle(id);
                settled = true;
            }
            faults.shape(&reply);
            const int sent =
                sendAll(fd, reply.packet(), reply.packetSize(), faults.transferLimit());
            if (sent != 0) {
                logLine(LogLevel::kWarning, "%s: closed: reply not sent: %s", label.c_str(),
                        std::strerror(-sent));
                return;
            }
        }
        if (last) {
            logLine(LogLevel::kInfo, "%s: closed after %u requests (close-after fault)",
                    label.c_str(), _state.config.faults.closeAfter);
            return;
        }
    }
}

std::vector<CameraService::ConnectionSummary> CameraService::connections() const {
    std::lock_guard<std::mutex> guard(_lock);
    std::vector<ConnectionSummary> connections;
    for (const auto& [id, connection] : _connections) {
        connections.push_back(
            ConnectionSummary{id, connection.peer, connection.session->summary()});
    }
    return connections;
}

}  // namespace host
}  // namespace vemo
