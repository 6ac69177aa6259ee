#include "ControlPort.h"

#include <algorithm>
#include <cstring>

#include "Log.h"
#include "SocketIo.h"

namespace vemo {
namespace host {

namespace {

uint64_t loadU64Le(const uint8_t* p) {
    return static_cast<uint64_t>(loadU32Le(p)) | (static_cast<uint64_t>(loadU32Le(p + 4)) << 32);
}

}  // namespace

ControlPort::ControlPort(HostState& state, ClientTable& clients)
    : _state(state),
      _clients(clients),
      _server(
          "control port", [this](int fd, unsigned id) { serve(fd, id); },
          state.config.limits.idleLimitMs) {}

void ControlPort::serve(int fd, unsigned id) {
    const std::string label = "control conn " + std::to_string(id);
    if (_state.config.faults.refuse) {
        logLine(LogLevel::kDebug, "%s: refused (refuse fault)", label.c_str());
        return;
    }
    std::shared_ptr<Pairing> pairing;
    std::string why;  // set when the host ends the socket for what the peer sent
    bool closeRecord = false;
    for (;;) {
        waitReadable(fd);
        if (pairing != nullptr) {
            pairing->setControlBusy(true);
        }
        uint8_t record[kRecordSize];
        size_t received = 0;
        if (recvExactly(fd, record, sizeof(record), &received) != RecvStatus::kDone) {
            if (received > 0) {
                why = "connection ended inside a record (" + std::to_string(received) + " of " +
                      std::to_string(kRecordSize) + " bytes)";
            }
            break;
        }
        const uint8_t command = record[0];
        const uint64_t client = loadU64Le(record + 1);
        const uint32_t argument = loadU32Le(record + 9);
        const std::string who = "client=" + std::to_string(client);
        const bool ours = pairing != nullptr && pairing->clientId() == client;

        if (command == kOpen) {
            _state.record.write("control open " + who + " port=" + std::to_string(argument));
            if (pairing != nullptr) {
                why = "second open record (client " + std::to_string(client) + ")";
                break;
            }
            pairing = _clients.open(client, argument, fd, &why);
            if (pairing == nullptr) {
                break;
            }
            _server.settle(id);
            if (argument != kCameraServicePort) {
                logLine(LogLevel::kWarning, "%s: client %u opened port %u, which has no service",
                        label.c_str(), pairing->clientId(), argument);
            }
            uint8_t answer[4];
            storeU32Le(answer, 0);
            const int sent = sendAll(fd, answer, sizeof(answer));
            if (sent != 0) {
                why = std::string("open answer not sent: ") + std::strerror(-sent);
                break;
            }
            continue;
        }
        if (command == kClose) {
            _state.record.write("control close " + who);
            closeRecord = true;
            if (pairing != nullptr && !ours) {
                why = "close record for client " + std::to_string(client) + ", open is " +
                      std::to_string(pairing->clientId());
            }
            break;
        }
        if (command == kRead) {
            _state.record.write("control read " + who + " count=" + std::to_string(argument));
            if (!ours) {
                why = "read record for client " + std::to_string(client) +
                      ", which this socket has not opened";
                break;
            }
            pairing->setControlBusy(false);
            if (!sendReplies(fd, *pairing, argument, &why)) {
                break;
            }
            continue;
        }
        why = "unknown command " + std::to_string(command);
        break;
    }
    if (why.empty()) {
        logLine(LogLevel::kDebug, "%s: closed", label.c_str());
    } else {
        logLine(LogLevel::kWarning, "%s: closed: %s", label.c_str(), why.c_str());
    }
    if (pairing != nullptr) {
        if (!closeRecord && pairing->live()) {
            _state.record.write("control drop client=" + std::to_string(pairing->clientId()));
        }
        pairing->end();
        pairing->detachControl();
    }
}

bool ControlPort::sendReplies(int fd, Pairing& pairing, uint32_t count, std::string* why) {
    const size_t perSend = _state.config.faults.bytePerTransfer ? 1 : SIZE_MAX;
    int result = 0;
    const auto send = [fd, perSend, &result](const iovec* pieces, size_t n, size_t) {
        iovec parts[Pairing::kMaxPieces];
        std::copy(pieces, pieces + n, parts);
        result = sendAllv(fd, parts, n, perSend);
        return result == 0;
    };
    for (uint32_t sent = 0; sent < count;) {
        const int64_t n =
            pairing.sendReplyBytes(count - sent, send, [fd] { return peerHungUp(fd); });
        if (n == Pairing::kSendFailed) {
            *why = std::string("read bytes not sent: ") + std::strerror(-result);
            return false;
        }
        if (n < 0) {
            *why = "read of " + std::to_string(count) + " bytes cut off after " +
                   std::to_string(sent) +
                   (n == Pairing::kEnded ? ": no session answers" : ": peer hung up");
            return false;
        }
        sent += static_cast<uint32_t>(n);
    }
    return true;
}

}  // namespace host
}  // namespace vemo
