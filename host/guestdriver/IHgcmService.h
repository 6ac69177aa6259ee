#pragma once

#include <cstdint>
#include <string_view>

#include "HgcmCall.h"

namespace vemo {
namespace host {

// What a driver handle's requests reach on the host: HGCM services behind one interface, so
// that the wire (HgcmChannel) knows nothing of what a service does. Every operation runs on
// the thread of the handle's connection; handles are told apart by a number unique in the
// process. Results are VirtualBox statuses (vemo/hgcm_wire.h).
class IHgcmService {
public:
    virtual ~IHgcmService() = default;

    // Connects to the named service: a status and, on success, the new client's id.
    virtual int32_t connect(unsigned handle, uint32_t locationType, std::string_view name,
                            uint32_t* clientId) = 0;
    virtual int32_t disconnect(unsigned handle, uint32_t clientId) = 0;
    // Runs the call. When the call's connection breaks meanwhile (call.broken()), the result
    // goes nowhere.
    virtual int32_t call(unsigned handle, HgcmCall& call) = 0;
    // The handle is gone: its clients go with it.
    virtual void handleClosed(unsigned handle) = 0;
};

}  // namespace host
}  // namespace vemo
