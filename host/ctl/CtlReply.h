#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vemo {
namespace host {

// One reply of the control socket as the host builds it (CtlProtocol.h): text lines, data
// blocks that are sent from where they lie, and the end line. Used by one thread.
class CtlReply {
public:
    // Adds a text line; bytes outside printable ASCII become '?'.
    void line(std::string_view text);
    // Adds a data block of size bytes at bytes; keep holds them until the reply is gone.
    void data(const uint8_t* bytes, size_t size, std::shared_ptr<const void> keep);
    // Makes the reply an error with that message; what was added before is dropped.
    void fail(std::string_view message);

    bool failed() const { return _failed; }

    // The reply, end line included, as pieces to send one after another. Valid while the reply
    // lives and is not changed.
    std::vector<iovec> pieces();
    // The same bytes in one string.
    std::string encode();

private:
    struct Segment {
        std::string text;
        const uint8_t* bytes = nullptr;  // a data block, when not null
        size_t size = 0;
    };

    // The text segment lines go to.
    std::string& text();

    std::vector<Segment> _segments;
    std::vector<std::shared_ptr<const void>> _kept;
    bool _failed = false;
    std::string _end = "ok\n";
};

}  // namespace host
}  // namespace vemo
