#include "CtlReplyParser.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "CtlProtocol.h"

namespace vemo {
namespace host {

void CtlReplyParser::breakOff(std::string problem) {
    _state = State::kBroken;
    _problem = std::move(problem);
}

void CtlReplyParser::takeLine(const std::string& line) {
    const std::string_view text = line;
    if (text == ctl::kOk) {
        _ok = true;
        _state = State::kDone;
        return;
    }
    if (text.substr(0, ctl::kErrorPrefix.size()) == ctl::kErrorPrefix) {
        _error = line.substr(ctl::kErrorPrefix.size());
        _state = State::kDone;
        return;
    }
    if (text.substr(0, ctl::kDataPrefix.size()) == ctl::kDataPrefix) {
        const std::string_view digits = text.substr(ctl::kDataPrefix.size());
        size_t size = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
            breakOff("bad data line \"" + ctl::printable(line) + "\"");
            return;
        }
        if (size > ctl::kMaxDataBlock) {
            breakOff("data block of " + std::to_string(size) + " bytes, more than " +
                     std::to_string(ctl::kMaxDataBlock));
            return;
        }
        Item block;
        block.isData = true;
        block.bytes.reserve(size);
        _items.push_back(std::move(block));
        _dataLeft = size;
        _inData = true;
        return;
    }
    Item item;
    item.text = line;
    _items.push_back(std::move(item));
}

CtlReplyParser::State CtlReplyParser::feed(const uint8_t* bytes, size_t size, size_t* used) {
    size_t at = 0;
    while (at < size && _state == State::kMore) {
        if (_inData && _dataLeft > 0) {
            const size_t n = std::min(_dataLeft, size - at);
            std::vector<uint8_t>& block = _items.back().bytes;
            block.insert(block.end(), bytes + at, bytes + at + n);
            _dataLeft -= n;
            at += n;
            continue;
        }
        const uint8_t c = bytes[at++];
        if (_inData) {
            if (c != '\n') {
                breakOff("no line break after a data block");
            }
            _inData = false;
            continue;
        }
        if (c == '\n') {
            takeLine(_line);
            _line.clear();
        } else if (c < 0x20 || c >= 0x7F) {
            breakOff("byte " + std::to_string(c) + " in a text line");
        } else if (_line.size() >= ctl::kMaxReplyLine) {
            breakOff("text line longer than " + std::to_string(ctl::kMaxReplyLine) + " bytes");
        } else {
            _line += static_cast<char>(c);
        }
    }
    *used = at;
    return _state;
}

}  // namespace host
}  // namespace vemo
