#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "Message.h"

namespace vemo {
namespace host {

// A record of what the host saw, one line per event, for tests that drive the host from outside
// (vemo-hostd --record PATH). Lines are appended in the order the events happened and written
// through at once, so a reader sees every event the host has taken so far. The format is
// stable; tests assert on it:
//
//   hgcm connect client=<id>
//   hgcm connect refused service=<name> status=<status>
//   hgcm call client=<id> function=<7|9|10> label=<label> size=<size of the data parameter>
//   hgcm call client=<id> function=8 name=<name>
//   hgcm call client=<id> function=<f>          other functions, and calls whose parameters
//                                               do not have the function's shape
//   hgcm disconnect client=<id>
//   hgcm drop client=<id>                       the driver handle closed, the client connected
//   control open client=<id> port=<port>
//   control read client=<id> count=<count>
//   control close client=<id>
//   control drop client=<id>                    an open client's control socket ended
//                                               without a close record (it closed, or sent a
//                                               record that did not fit)
//   request client=<id> <key>=<value>...        a request packet of an HGCM client
//   request conn=<n> <key>=<value>...           a request packet on the TCP camera port
//   request <client=<id>|conn=<n>> malformed: <why>
//
// A request's entries come in key order (the wire's); u8, u16 and u32 values are decimal,
// strings are their text, buffers "<N bytes>". In labels, names, keys and strings, every byte
// outside '!'..'~' and the backslash is written as \xNN, so a line never holds a space or a
// line break of the guest's. Client ids, counts and sizes are decimal; statuses signed.
class EventRecord {
public:
    EventRecord() = default;
    ~EventRecord();
    EventRecord(const EventRecord&) = delete;
    EventRecord& operator=(const EventRecord&) = delete;

    // Appends to the file at path, created if missing, from now on. Returns 0 or a negative
    // errno, logged here. Called once, before the services start.
    int open(const std::string& path);

    bool enabled() const { return _fd.load(std::memory_order_relaxed) >= 0; }

    // Writes the line and a line break. Any thread.
    void write(const std::string& line);

    // Records the request packet payload at data as "request <who> ...". Any thread.
    void request(std::string_view who, const uint8_t* data, size_t size);

    // Text from a peer made fit for a line as described above.
    static std::string escape(std::string_view text);
    // The entries of a message as " key=value" each.
    static std::string entries(const Message& message);

private:
    std::mutex _lock;
    std::atomic<int> _fd{-1};
};

}  // namespace host
}  // namespace vemo
