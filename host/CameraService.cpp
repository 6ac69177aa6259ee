#include "CameraService.h"

#include <cstring>
#include <vector>

#include "Log.h"
#include "PacketStream.h"
#include "Session.h"

namespace vemo {
namespace host {

CameraService::CameraService(HostState& state)
    : _state(state), _server("camera service", [this](int fd, unsigned id) { serve(fd, id); }) {}

void CameraService::serve(int fd, unsigned id) {
    const std::string label = "conn " + std::to_string(id);
    Session session(_state, label);
    PacketStream stream(fd);
    std::vector<uint8_t> request;
    PacketBuffer reply;
    std::string fault;
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
        if (!session.handle(request.data(), request.size(), &reply, &fault)) {
            logLine(LogLevel::kWarning, "%s: closed: %s", label.c_str(), fault.c_str());
            return;
        }
        const int sent = stream.write(reply);
        if (sent != 0) {
            logLine(LogLevel::kWarning, "%s: closed: reply not sent: %s", label.c_str(),
                    std::strerror(-sent));
            return;
        }
    }
}

}  // namespace host
}  // namespace vemo
