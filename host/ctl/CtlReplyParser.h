#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vemo {
namespace host {

// Reads one reply of the control socket (CtlProtocol.h) from the bytes as they arrive, in any
// pieces, on the client's side. It keeps to the protocol's bounds, so a peer that is not a host
// can make it give up but not hoard memory. Used by one thread.
class CtlReplyParser {
public:
    enum class State {
        kMore,    // the reply goes on
        kDone,    // the end line has come
        kBroken,  // the bytes are not a reply; problem() says why
    };

    // One text line, or one data block.
    struct Item {
        bool isData = false;
        std::string text;            // a text line without its '\n'
        std::vector<uint8_t> bytes;  // a data block
    };

    // Takes bytes of the reply; stops at the end line or at a fault. *used says how many it
    // took: bytes after the end line belong to the next reply.
    State feed(const uint8_t* bytes, size_t size, size_t* used);
    State state() const { return _state; }

    // The text lines and data blocks before the end line ("data" lines are not repeated).
    const std::vector<Item>& items() const { return _items; }
    // Once done: whether the end line said ok, and the message when it did not.
    bool ok() const { return _ok; }
    const std::string& error() const { return _error; }
    const std::string& problem() const { return _problem; }

private:
    // Takes one whole text line.
    void takeLine(const std::string& line);
    void breakOff(std::string problem);

    State _state = State::kMore;
    std::vector<Item> _items;
    std::string _line;  // the text line so far
    // Bytes of the current data block still to come, and whether its closing '\n' has.
    size_t _dataLeft = 0;
    bool _inData = false;
    bool _ok = false;
    std::string _error;
    std::string _problem;
};

}  // namespace host
}  // namespace vemo
