#include "HgcmChannel.h"

#include <vemo/hgcm_wire.h>

#include <cstring>
#include <utility>

#include "Log.h"
#include "SocketIo.h"

namespace vemo {
namespace host {

namespace {

constexpr uint32_t kParmType32 = 1;  // VMMDevHGCMParmType_32bit
constexpr uint32_t kParmType64 = 2;  // VMMDevHGCMParmType_64bit
constexpr size_t kServiceNameSize = 128;

}  // namespace

HgcmChannel::HgcmChannel(int fd, unsigned handle, IHgcmService& service,
                         std::function<void()> connected)
    : _wire(fd),
      _handle(handle),
      _label("hgcm handle " + std::to_string(handle)),
      _service(service),
      _connected(std::move(connected)) {}

void HgcmChannel::run() {
    std::string why;
    for (;;) {
        uint8_t op[4];
        size_t received = 0;
        const RecvStatus status = _wire.read(op, sizeof(op), &received);
        if (status != RecvStatus::kDone) {
            if (received > 0 || status == RecvStatus::kError) {
                why = "connection ended inside an operation code";
            }
            break;
        }
        bool goOn = false;
        switch (loadU32Le(op)) {
            case VEMO_HGCM_OP_CONNECT:
                goOn = serveConnect(&why);
                break;
            case VEMO_HGCM_OP_DISCONNECT:
                goOn = serveDisconnect(&why);
                break;
            case VEMO_HGCM_OP_CALL:
                goOn = serveCall(&why);
                break;
            default:
                why = "unknown operation " + std::to_string(loadU32Le(op));
                break;
        }
        if (!goOn) {
            break;
        }
    }
    if (why.empty()) {
        logLine(LogLevel::kDebug, "%s: closed by the guest", _label.c_str());
    } else {
        logLine(LogLevel::kWarning, "%s: closed: %s", _label.c_str(), why.c_str());
    }
    _service.handleClosed(_handle);
}

bool HgcmChannel::receive(void* dst, size_t size, const char* what, std::string* why) {
    size_t received = 0;
    if (_wire.read(dst, size, &received) == RecvStatus::kDone) {
        return true;
    }
    *why = std::string("connection ended inside ") + what + " (" + std::to_string(received) +
           " of " + std::to_string(size) + " bytes)";
    return false;
}

bool HgcmChannel::send(const uint8_t* data, size_t size, std::string* why) {
    const int sent = sendAll(_wire.fd(), data, size);
    if (sent != 0) {
        *why = std::string("answer not sent: ") + std::strerror(-sent);
        return false;
    }
    return true;
}

bool HgcmChannel::serveConnect(std::string* why) {
    uint8_t body[4 + kServiceNameSize];
    if (!receive(body, sizeof(body), "CONNECT", why)) {
        return false;
    }
    const char* name = reinterpret_cast<const char*>(body + 4);
    const void* nul = std::memchr(name, 0, kServiceNameSize);
    const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - name)
                                         : kServiceNameSize;
    uint32_t clientId = 0;
    const int32_t status =
        _service.connect(_handle, loadU32Le(body), std::string_view(name, length), &clientId);
    if (status >= 0 && _connected) {
        _connected();
    }
    uint8_t result[12];
    uint8_t* p = storeU32Le(result, VEMO_HGCM_OP_RESULT);
    p = storeU32Le(p, static_cast<uint32_t>(status));
    storeU32Le(p, status >= 0 ? clientId : 0);
    return send(result, sizeof(result), why);
}

bool HgcmChannel::serveDisconnect(std::string* why) {
    uint8_t body[4];
    if (!receive(body, sizeof(body), "DISCONNECT", why)) {
        return false;
    }
    const int32_t status = _service.disconnect(_handle, loadU32Le(body));
    uint8_t result[12];
    uint8_t* p = storeU32Le(result, VEMO_HGCM_OP_RESULT);
    p = storeU32Le(p, static_cast<uint32_t>(status));
    storeU32Le(p, 0);
    return send(result, sizeof(result), why);
}

bool HgcmChannel::readParams(uint32_t count, std::vector<HgcmParam>* params, std::string* why) {
    for (uint32_t ix = 0; ix < count; ++ix) {
        uint8_t head[12];
        if (!receive(head, sizeof(head), "a CALL parameter", why)) {
            return false;
        }
        HgcmParam param;
        param.type = loadU32Le(head);
        param.size = loadU32Le(head + 4);
        const uint32_t inlineFlag = loadU32Le(head + 8);
        const std::string which = "parameter " + std::to_string(ix) + ": ";
        if (inlineFlag > 1) {
            *why = which + "inline flag " + std::to_string(inlineFlag);
            return false;
        }
        param.inlined = inlineFlag == 1;
        if (param.size > VEMO_HGCM_MAX_PARM_SIZE) {
            *why = which + "size " + std::to_string(param.size) + " above the limit";
            return false;
        }
        const bool value = param.type == kParmType32 || param.type == kParmType64;
        const uint32_t valueSize = param.type == kParmType32 ? 4 : 8;
        if (value && (param.size != valueSize || !param.inlined)) {
            *why = which + "value of type " + std::to_string(param.type) + " with size " +
                   std::to_string(param.size) + (param.inlined ? "" : ", not inline");
            return false;
        }
        if (param.inlined && param.size > VEMO_HGCM_INLINE_LIMIT) {
            *why = which + std::to_string(param.size) + " bytes inline (limit " +
                   std::to_string(VEMO_HGCM_INLINE_LIMIT) + ")";
            return false;
        }
        if (param.inlined) {
            param.bytes.resize(param.size);
            if (!receive(param.bytes.data(), param.size, "inline parameter bytes", why)) {
                return false;
            }
        }
        params->push_back(std::move(param));
    }
    return true;
}

bool HgcmChannel::serveCall(std::string* why) {
    uint8_t header[12];
    if (!receive(header, sizeof(header), "CALL", why)) {
        return false;
    }
    const uint32_t count = loadU32Le(header + 8);
    if (count > VEMO_HGCM_MAX_PARMS) {
        *why = "call with " + std::to_string(count) + " parameters (limit " +
               std::to_string(VEMO_HGCM_MAX_PARMS) + ")";
        return false;
    }
    std::vector<HgcmParam> params;
    if (!readParams(count, &params, why)) {
        return false;
    }
    HgcmCall call(_wire, _held, loadU32Le(header), loadU32Le(header + 4), std::move(params));
    const int32_t result = _service.call(_handle, call);
    if (!call.complete(result)) {
        *why = call.brokenWhy();
        return false;
    }
    return true;
}

}  // namespace host
}  // namespace vemo
