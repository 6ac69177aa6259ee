#include "HgcmService.h"

#include <vemo/hgcm_wire.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include "EventRecord.h"
#include "Log.h"
#include "SocketIo.h"

namespace vemo {
namespace host {

namespace {

constexpr uint32_t kLocationLocalHost = 1;          // VMMDevHGCMLoc_LocalHost
constexpr uint32_t kLocationLocalHostExisting = 2;  // VMMDevHGCMLoc_LocalHost_Existing
constexpr size_t kMaxLabelLength = 255;
constexpr size_t kMaxNameLength = 63;
// Call 9 and 7 data goes through memory in pieces of this size, whatever the guest announces.
constexpr size_t kReadChunk = 1u << 20;

std::string clientText(uint32_t id) {
    return "client " + std::to_string(id);
}

bool allAddresses(const HgcmCall& call, size_t count) {
    if (call.paramCount() != count) {
        return false;
    }
    for (size_t ix = 0; ix < count; ++ix) {
        if (!call.isAddress(ix)) {
            return false;
        }
    }
    return true;
}

// Whether the parameters have the shape of the call's function (any shape does for functions
// without parameters of interest). *label gets the label or name, *details what the record
// line says of the parameters.
bool readShape(HgcmCall& call, std::string* label, std::string* details) {
    switch (call.function()) {
        case HgcmService::kCommitBuffer:
        case HgcmService::kSendData:
        case HgcmService::kRecvData:
            if (!allAddresses(call, 3) || !call.readText(0, kMaxLabelLength, label)) {
                return false;
            }
            *details = " label=" + EventRecord::escape(*label) +
                       " size=" + std::to_string(call.param(1).size);
            return true;
        case HgcmService::kFreeBuffer:
            if (!allAddresses(call, 1) || !call.readText(0, kMaxNameLength, label)) {
                return false;
            }
            *details = " name=" + EventRecord::escape(*label);
            return true;
        default:
            return true;
    }
}

}  // namespace

int32_t HgcmService::connect(unsigned handle, uint32_t locationType, std::string_view name,
                             uint32_t* clientId) {
    int32_t status = VEMO_VERR_NOT_SUPPORTED;
    std::string why;
    if (name != kName) {
        status = VEMO_VERR_HGCM_SERVICE_NOT_FOUND;
        why = "no such service";
    } else if (locationType != kLocationLocalHost && locationType != kLocationLocalHostExisting) {
        status = VEMO_VERR_INVALID_PARAMETER;
        why = "location type " + std::to_string(locationType);
    } else if (_state.config.faults.refuse) {
        why = "refuse fault";
    } else if (_clients.add(handle, clientId, &why)) {
        logLine(LogLevel::kDebug, "hgcm handle %u: %s connected", handle,
                clientText(*clientId).c_str());
        _state.record.write("hgcm connect client=" + std::to_string(*clientId));
        return VEMO_VINF_SUCCESS;
    }
    logLine(LogLevel::kDebug, "hgcm handle %u: connect to %s refused: %s", handle,
            logSafe(name).c_str(), why.c_str());
    _state.record.write("hgcm connect refused service=" + EventRecord::escape(name) +
                        " status=" + std::to_string(status));
    return status;
}

int32_t HgcmService::disconnect(unsigned handle, uint32_t clientId) {
    std::shared_ptr<Pairing> pairing;
    if (_clients.find(handle, clientId, &pairing) && pairing != nullptr) {
        pairing->settleControl();
    }
    _state.record.write("hgcm disconnect client=" + std::to_string(clientId));
    if (!_clients.remove(handle, clientId)) {
        logLine(LogLevel::kWarning, "hgcm handle %u: disconnect of unknown %s", handle,
                clientText(clientId).c_str());
        return VEMO_VERR_INVALID_CLIENT_ID;
    }
    releaseBuffers(clientId);
    logLine(LogLevel::kDebug, "hgcm handle %u: %s disconnected", handle,
            clientText(clientId).c_str());
    return VEMO_VINF_SUCCESS;
}

void HgcmService::handleClosed(unsigned handle) {
    for (const uint32_t id : _clients.clientsOf(handle)) {
        _state.record.write("hgcm drop client=" + std::to_string(id));
        _clients.remove(handle, id);
        releaseBuffers(id);
        logLine(LogLevel::kDebug, "hgcm handle %u: %s dropped with its handle", handle,
                clientText(id).c_str());
    }
}

int32_t HgcmService::call(unsigned handle, HgcmCall& call) {
    const uint32_t id = call.clientId();
    const uint32_t function = call.function();
    std::string label;
    std::string details;
    const bool shaped = readShape(call, &label, &details);
    if (call.broken()) {
        return VEMO_VERR_INVALID_PARAMETER;
    }
    const std::string line = "hgcm call client=" + std::to_string(id) +
                             " function=" + std::to_string(function) + details;

    std::shared_ptr<Pairing> pairing;
    const bool known = _clients.find(handle, id, &pairing);
    if (pairing != nullptr) {
        pairing->settleControl();
    }
    _state.record.write(line);
    if (!known) {
        logLine(LogLevel::kWarning, "hgcm handle %u: call %u for unknown %s", handle, function,
                clientText(id).c_str());
        return VEMO_VERR_INVALID_CLIENT_ID;
    }
    if (!shaped) {
        logLine(LogLevel::kWarning, "%s: call %u: parameters do not fit", clientText(id).c_str(),
                function);
        return VEMO_VERR_INVALID_PARAMETER;
    }
    switch (function) {
        case kCommitBuffer:
            return commitBuffer(call, label);
        case kFreeBuffer:
            return freeBuffer(id, label);
        case kSendData:
            return sendData(call, pairing.get());
        case kRecvData:
            return recvData(call, pairing.get());
        default:
            logLine(LogLevel::kDebug, "%s: call %u not supported", clientText(id).c_str(),
                    function);
            return VEMO_VERR_NOT_SUPPORTED;
    }
}

int32_t HgcmService::sendData(HgcmCall& call, Pairing* pairing) {
    if (pairing == nullptr) {
        return VEMO_VERR_NOT_SUPPORTED;
    }
    const size_t size = call.param(1).size;
    std::vector<uint8_t> chunk;
    size_t offset = 0;
    do {
        const size_t n = std::min(size - offset, kReadChunk);
        chunk.resize(n);
        if (!call.read(1, offset, n, chunk.data())) {
            return VEMO_VERR_INVALID_PARAMETER;
        }
        if (!pairing->takeRequestBytes(chunk.data(), n)) {
            return VEMO_VERR_NOT_SUPPORTED;
        }
        offset += n;
    } while (offset < size);
    return VEMO_VINF_SUCCESS;
}

int32_t HgcmService::recvData(HgcmCall& call, Pairing* pairing) {
    const size_t size = call.param(1).size;
    if (size < 4) {
        logLine(LogLevel::kWarning, "%s: call 10: data of %zu bytes has no room for the count",
                clientText(call.clientId()).c_str(), size);
        return VEMO_VERR_INVALID_PARAMETER;
    }
    const size_t max = std::min(
        {size - 4, kMaxTransfer, _state.config.faults.bytePerTransfer ? size_t{1} : SIZE_MAX});
    uint8_t count[4];
    // The count and the reply bytes go to the guest as one WRITE, the bytes straight from the
    // queued reply packets.
    const auto deliver = [&call, &count](const iovec* pieces, size_t n, size_t total) {
        iovec all[1 + Pairing::kMaxPieces];
        storeU32Le(count, static_cast<uint32_t>(total));
        all[0] = iovec{count, sizeof(count)};
        std::copy(pieces, pieces + n, all + 1);
        return call.write(1, 0, all, 1 + n);
    };
    const int64_t taken =
        pairing != nullptr
            ? pairing->sendReplyBytes(max, deliver, [&call] { return call.guestGone(); })
            : Pairing::kEnded;
    if (taken >= 0 || taken == Pairing::kSendFailed) {
        return VEMO_VINF_SUCCESS;
    }
    if (taken == Pairing::kEnded) {
        storeU32Le(count, static_cast<uint32_t>(-1));
        call.write(1, 0, count, sizeof(count));
    }
    return VEMO_VERR_NOT_SUPPORTED;
}

int32_t HgcmService::commitBuffer(HgcmCall& call, const std::string& label) {
    const uint32_t id = call.clientId();
    const size_t colon = label.rfind(':');
    uint32_t position = 0;
    const char* digits = label.c_str() + (colon == std::string::npos ? 0 : colon + 1);
    const char* end = label.c_str() + label.size();
    const auto [stop, ec] = std::from_chars(digits, end, position);
    const std::string name = label.substr(0, colon == std::string::npos ? 0 : colon);
    const size_t size = call.param(1).size;
    if (name.empty() || name.size() > kMaxNameLength || digits == end || ec != std::errc() ||
        stop != end || position >= kHostBufferSpan || size > kHostBufferSpan - position) {
        logLine(LogLevel::kWarning, "%s: call 7: label %s and %zu bytes do not fit a host buffer",
                clientText(id).c_str(), logSafe(label).c_str(), size);
        return VEMO_VERR_INVALID_PARAMETER;
    }
    if (size == 0) {
        return VEMO_VINF_SUCCESS;
    }
    const BufferKey key(id, name);
    if (!growBuffer(key, position + size)) {
        logLine(LogLevel::kWarning, "%s: call 7: no memory for %zu bytes at %u of %s",
                clientText(id).c_str(), size, position, logSafe(name).c_str());
        return VEMO_VERR_NOT_SUPPORTED;
    }
    std::vector<uint8_t> chunk;
    for (size_t offset = 0; offset < size; offset += chunk.size()) {
        chunk.resize(std::min(size - offset, kReadChunk));
        if (!call.read(1, offset, chunk.size(), chunk.data())) {
            return VEMO_VERR_INVALID_PARAMETER;
        }
        std::lock_guard<std::mutex> guard(_buffersLock);
        const auto it = _buffers.find(key);
        if (it != _buffers.end()) {
            std::memcpy(it->second.data() + position + offset, chunk.data(), chunk.size());
        }
    }
    return VEMO_VINF_SUCCESS;
}

bool HgcmService::growBuffer(const BufferKey& key, size_t end) {
    std::lock_guard<std::mutex> guard(_buffersLock);
    auto it = _buffers.find(key);
    if (it == _buffers.end()) {
        const size_t owned = static_cast<size_t>(
            std::count_if(_buffers.begin(), _buffers.end(),
                          [&key](const auto& entry) { return entry.first.first == key.first; }));
        if (owned >= kMaxBuffersPerClient) {
            return false;
        }
        it = _buffers.emplace(key, std::vector<uint8_t>()).first;
    }
    std::vector<uint8_t>& bytes = it->second;
    if (end > bytes.size()) {
        if (_bufferBytes + (end - bytes.size()) > kMaxBufferBytes) {
            return false;
        }
        _bufferBytes += end - bytes.size();
        bytes.resize(end);
    }
    return true;
}

int32_t HgcmService::freeBuffer(uint32_t clientId, const std::string& name) {
    std::lock_guard<std::mutex> guard(_buffersLock);
    const auto it = _buffers.find(BufferKey(clientId, name));
    if (it != _buffers.end()) {
        _bufferBytes -= it->second.size();
        _buffers.erase(it);
    }
    return VEMO_VINF_SUCCESS;
}

void HgcmService::releaseBuffers(uint32_t clientId) {
    std::lock_guard<std::mutex> guard(_buffersLock);
    for (auto it = _buffers.lower_bound(BufferKey(clientId, std::string()));
         it != _buffers.end() && it->first.first == clientId;) {
        _bufferBytes -= it->second.size();
        it = _buffers.erase(it);
    }
}

bool HgcmService::hostBuffer(uint32_t clientId, const std::string& name,
                             std::vector<uint8_t>* bytes) const {
    std::lock_guard<std::mutex> guard(_buffersLock);
    const auto it = _buffers.find(BufferKey(clientId, name));
    if (it == _buffers.end()) {
        return false;
    }
    *bytes = it->second;
    return true;
}

}  // namespace host
}  // namespace vemo
