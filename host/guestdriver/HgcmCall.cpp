#include "HgcmCall.h"

#include <vemo/hgcm_wire.h>

#include <algorithm>
#include <cstring>

#include "SocketIo.h"

namespace vemo {
namespace host {

namespace {

// VMMDevHGCMParmType_PhysAddr to VMMDevHGCMParmType_LinAddr_Locked_Out.
constexpr uint32_t kFirstAddressType = 3;
constexpr uint32_t kLastAddressType = 9;

}  // namespace

bool HgcmCall::isAddress(size_t ix) const {
    return _params[ix].type >= kFirstAddressType && _params[ix].type <= kLastAddressType;
}

bool HgcmCall::inRange(size_t ix, size_t offset, size_t length) const {
    return ix < _params.size() && offset <= _params[ix].size && length <= _params[ix].size - offset;
}

void HgcmCall::breakOff(std::string why) {
    if (_broken.empty()) {
        _broken = std::move(why);
    }
}

bool HgcmCall::sendAfterHeld(iovec* pieces, size_t count, const char* what) {
    pieces[0] = iovec{_held.data(), _held.size()};
    const int sent = sendAllv(_wire.fd(), pieces, count);
    _held.clear();
    if (sent != 0) {
        breakOff(std::string(what) + " not sent: " + std::strerror(-sent));
        return false;
    }
    return true;
}

bool HgcmCall::read(size_t ix, size_t offset, size_t length, uint8_t* dst) {
    if (broken() || !inRange(ix, offset, length)) {
        return false;
    }
    const HgcmParam& param = _params[ix];
    if (param.inlined) {
        if (length > 0) {
            std::memcpy(dst, param.bytes.data() + offset, length);
        }
        return true;
    }
    if (length == 0) {
        return true;
    }
    uint8_t request[16];
    uint8_t* p = storeU32Le(request, VEMO_HGCM_OP_READ);
    p = storeU32Le(p, static_cast<uint32_t>(ix));
    p = storeU32Le(p, static_cast<uint32_t>(offset));
    storeU32Le(p, static_cast<uint32_t>(length));
    iovec pieces[2] = {{}, {request, sizeof(request)}};
    if (!sendAfterHeld(pieces, 2, "READ")) {
        return false;
    }
    uint8_t answer[4];
    size_t received = 0;
    if (_wire.read(answer, sizeof(answer), &received) != RecvStatus::kDone) {
        breakOff("connection ended before the answer to READ");
        return false;
    }
    const auto status = static_cast<int32_t>(loadU32Le(answer));
    if (status == -1) {
        return false;
    }
    if (status != 0) {
        breakOff("READ answered with status " + std::to_string(status));
        return false;
    }
    if (_wire.read(dst, length, &received) != RecvStatus::kDone) {
        breakOff("connection ended inside READ data (" + std::to_string(received) + " of " +
                 std::to_string(length) + " bytes)");
        return false;
    }
    return true;
}

bool HgcmCall::write(size_t ix, size_t offset, const uint8_t* src, size_t length) {
    const iovec piece{const_cast<uint8_t*>(src), length};
    return write(ix, offset, &piece, 1);
}

bool HgcmCall::write(size_t ix, size_t offset, const iovec* pieces, size_t count) {
    size_t length = 0;
    for (size_t i = 0; i < count; ++i) {
        length += pieces[i].iov_len;
    }
    if (broken() || count > kMaxWritePieces || !inRange(ix, offset, length)) {
        return false;
    }
    uint8_t header[16];
    uint8_t* p = storeU32Le(header, VEMO_HGCM_OP_WRITE);
    p = storeU32Le(p, static_cast<uint32_t>(ix));
    p = storeU32Le(p, static_cast<uint32_t>(offset));
    storeU32Le(p, static_cast<uint32_t>(length));
    if (length <= kMaxHeldWrite && _held.size() + sizeof(header) + length <= kMaxHeld) {
        _held.insert(_held.end(), header, header + sizeof(header));
        for (size_t i = 0; i < count; ++i) {
            const auto* bytes = static_cast<const uint8_t*>(pieces[i].iov_base);
            _held.insert(_held.end(), bytes, bytes + pieces[i].iov_len);
        }
        return true;
    }
    iovec all[2 + kMaxWritePieces];
    all[1] = iovec{header, sizeof(header)};
    std::copy(pieces, pieces + count, all + 2);
    return sendAfterHeld(all, 2 + count, "WRITE");
}

bool HgcmCall::readText(size_t ix, size_t maxLength, std::string* text) {
    if (ix >= _params.size() || !isAddress(ix) || _params[ix].size == 0) {
        return false;
    }
    const size_t size = std::min<size_t>(_params[ix].size, maxLength + 1);
    std::vector<uint8_t> bytes(size);
    if (!read(ix, 0, size, bytes.data())) {
        return false;
    }
    const void* nul = std::memchr(bytes.data(), 0, size);
    if (nul == nullptr) {
        return false;
    }
    text->assign(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes.data()));
    return true;
}

bool HgcmCall::guestGone() {
    if (!broken() && peerHungUp(_wire.fd())) {
        breakOff("guest hung up during the call");
    }
    return broken();
}

bool HgcmCall::complete(int32_t result) {
    if (broken()) {
        return false;
    }
    uint8_t done[8];
    storeU32Le(storeU32Le(done, VEMO_HGCM_OP_DONE), static_cast<uint32_t>(result));
    iovec pieces[2] = {{}, {done, sizeof(done)}};
    return sendAfterHeld(pieces, 2, "DONE");
}

}  // namespace host
}  // namespace vemo
