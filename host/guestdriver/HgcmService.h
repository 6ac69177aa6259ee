#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ClientTable.h"
#include "HostState.h"
#include "IHgcmService.h"

namespace vemo {
namespace host {

// The HGCM service "VemoVMGuestPropSvc" that an open camera's guest-driver stream talks to.
// Its calls take address parameters only; labels are NUL-terminated texts:
//
//    7  commit   label "<name>:<position>", data, flags: the data goes into the client's host
//                buffer of that name (a ring of kHostBufferSpan bytes, grown as written)
//    8  free     the name: the client's host buffer of that name is released
//    9  send     label "sendData:<n>", data, flags: request bytes for the client's session
//   10  receive  label "sendData:<n>:40", data of n + 4 bytes, flags: the host writes a signed
//                32-bit count and then at most n reply bytes into the data; with none pending
//                it waits for one, and a negative count says that no session answers any more
//   11  map      not supported
//
// Statuses: VEMO_VERR_INVALID_CLIENT_ID for a client the handle does not have;
// VEMO_VERR_INVALID_PARAMETER for parameters that do not fit the function; VEMO_VERR_NOT_SUPPORTED
// for 11 and unknown functions, for 9 and 10 when the client has no session that answers (never
// opened, closed, ended by a fault; the bytes of 9 are dropped) and when a host buffer would
// pass the memory bounds. CONNECT to another name gives VEMO_VERR_HGCM_SERVICE_NOT_FOUND, and
// VEMO_VERR_NOT_SUPPORTED when the host refuses (the refuse fault, the handle's or the table's
// limit of clients reached, stopping).
class HgcmService : public IHgcmService {
public:
    static constexpr std::string_view kName = "VemoVMGuestPropSvc";

    static constexpr uint32_t kCommitBuffer = 7;
    static constexpr uint32_t kFreeBuffer = 8;
    static constexpr uint32_t kSendData = 9;
    static constexpr uint32_t kRecvData = 10;
    static constexpr uint32_t kMapBuffer = 11;

    // Bytes of a named host buffer; positions run from 0 to kHostBufferSpan - 1.
    static constexpr uint32_t kHostBufferSpan = 67108860;
    static constexpr size_t kMaxBuffersPerClient = 4;
    // Memory all host buffers together may hold.
    static constexpr size_t kMaxBufferBytes = 256u << 20;
    // Most reply bytes one call 10 delivers.
    static constexpr size_t kMaxTransfer = 16u << 20;

    // state and clients must outlive the service.
    HgcmService(HostState& state, ClientTable& clients) : _state(state), _clients(clients) {}

    int32_t connect(unsigned handle, uint32_t locationType, std::string_view name,
                    uint32_t* clientId) override;
    int32_t disconnect(unsigned handle, uint32_t clientId) override;
    int32_t call(unsigned handle, HgcmCall& call) override;
    void handleClosed(unsigned handle) override;

    // The bytes of the client's host buffer of that name, up to the furthest written; false
    // when there is no such buffer. Any thread.
    bool hostBuffer(uint32_t clientId, const std::string& name, std::vector<uint8_t>* bytes) const;

private:
    using BufferKey = std::pair<uint32_t, std::string>;

    int32_t commitBuffer(HgcmCall& call, const std::string& label);
    int32_t freeBuffer(uint32_t clientId, const std::string& name);
    int32_t sendData(HgcmCall& call, Pairing* pairing);
    int32_t recvData(HgcmCall& call, Pairing* pairing);
    // Makes room for bytes up to end in the client's buffer of that name; false past a bound.
    bool growBuffer(const BufferKey& key, size_t end);
    void releaseBuffers(uint32_t clientId);

    HostState& _state;
    ClientTable& _clients;

    mutable std::mutex _buffersLock;
    std::map<BufferKey, std::vector<uint8_t>> _buffers;  // guarded by _buffersLock
    size_t _bufferBytes = 0;                             // guarded by _buffersLock
};

}  // namespace host
}  // namespace vemo
