#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Message.h"

namespace vemo {
namespace host {

// One remote call as the web console lists it.
struct CallNote {
    std::string function;
    std::string arguments;  // "ix=0 text=\"NV21\" frame=[4 bytes]", the request's entries
    std::string result;     // "0", "[460800 bytes]" or "error: ..."
    uint64_t micros = 0;    // time taken
    uint64_t at = 0;        // when it ended, microseconds on the monotonic clock
};

// The last calls of one session, oldest first once full. Notes are written over in place, so
// their strings keep their storage and a steady stream of calls allocates nothing. Used by one
// thread at a time (the session guards it).
class CallLog {
public:
    static constexpr size_t kCapacity = 24;

    // Notes a call: request and reply as the session handled them.
    void note(const Message& request, const Message& reply, uint64_t micros, uint64_t at);

    // The notes, oldest first.
    std::vector<CallNote> recent() const;

private:
    std::array<CallNote, kCapacity> _notes;
    size_t _next = 0;
    size_t _count = 0;
};

}  // namespace host
}  // namespace vemo
