#include "CtlReply.h"

#include "CtlProtocol.h"

namespace vemo {
namespace host {

std::string& CtlReply::text() {
    if (_segments.empty() || _segments.back().bytes != nullptr) {
        _segments.emplace_back();
    }
    return _segments.back().text;
}

void CtlReply::line(std::string_view text) {
    if (!_failed) {
        this->text() += ctl::printable(text) + "\n";
    }
}

void CtlReply::data(const uint8_t* bytes, size_t size, std::shared_ptr<const void> keep) {
    if (_failed) {
        return;
    }
    text() += std::string(ctl::kDataPrefix) + std::to_string(size) + "\n";
    Segment block;
    block.bytes = bytes;
    block.size = size;
    _segments.push_back(std::move(block));
    text() += "\n";
    _kept.push_back(std::move(keep));
}

void CtlReply::fail(std::string_view message) {
    _segments.clear();
    _kept.clear();
    _failed = true;
    _end = std::string(ctl::kErrorPrefix) + ctl::printable(message) + "\n";
}

std::vector<iovec> CtlReply::pieces() {
    std::vector<iovec> pieces;
    for (Segment& segment : _segments) {
        if (segment.bytes != nullptr) {
            pieces.push_back(iovec{const_cast<uint8_t*>(segment.bytes), segment.size});
        } else {
            pieces.push_back(iovec{segment.text.data(), segment.text.size()});
        }
    }
    pieces.push_back(iovec{_end.data(), _end.size()});
    return pieces;
}

std::string CtlReply::encode() {
    std::string bytes;
    for (const iovec& piece : pieces()) {
        bytes.append(static_cast<const char*>(piece.iov_base), piece.iov_len);
    }
    return bytes;
}

}  // namespace host
}  // namespace vemo
