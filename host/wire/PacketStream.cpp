#include "PacketStream.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vemo {
namespace host {

std::string ReadResult::describe() const {
    switch (status) {
        case ReadStatus::kPacket:
            return "packet of " + std::to_string(length) + " bytes";
        case ReadStatus::kClosed:
            return "peer closed";
        case ReadStatus::kBadLength:
            if (length == 0) {
                return "packet length 0";
            }
            return "packet length " + std::to_string(length) + " above limit " +
                   std::to_string(PacketBuffer::kMaxPayload);
        case ReadStatus::kCutShort:
            if (length == 0) {
                return "connection closed mid-packet (" + std::to_string(received) +
                       " of 4 length bytes)";
            }
            return "connection closed mid-packet (" + std::to_string(received) + " of " +
                   std::to_string(length) + " payload bytes)";
        case ReadStatus::kError:
            return std::string("read failed: ") + std::strerror(error);
    }
    return "unknown read status";
}

ReadStatus PacketStream::readExactly(uint8_t* dst, size_t size, size_t* received, int* error) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(_fd, dst + done, size - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        *received = done;
        if (n == 0) {
            return ReadStatus::kCutShort;
        }
        *error = errno;
        return ReadStatus::kError;
    }
    *received = done;
    return ReadStatus::kPacket;
}

ReadResult PacketStream::read(std::vector<uint8_t>* payload) {
    ReadResult result;
    uint8_t header[4];
    result.status = readExactly(header, sizeof(header), &result.received, &result.error);
    if (result.status != ReadStatus::kPacket) {
        if (result.status == ReadStatus::kCutShort && result.received == 0) {
            result.status = ReadStatus::kClosed;
        }
        return result;
    }
    result.length = static_cast<uint32_t>(header[0]) | (static_cast<uint32_t>(header[1]) << 8) |
                    (static_cast<uint32_t>(header[2]) << 16) |
                    (static_cast<uint32_t>(header[3]) << 24);
    if (result.length == 0 || result.length > PacketBuffer::kMaxPayload) {
        result.status = ReadStatus::kBadLength;
        return result;
    }
    // The storage grows with what actually arrives, so that a length announced by a client
    // that then sends little costs little.
    constexpr size_t kGrowStep = 1u << 20;
    payload->clear();
    size_t done = 0;
    while (done < result.length) {
        const size_t chunk = std::min<size_t>(result.length - done, kGrowStep);
        payload->resize(done + chunk);
        size_t received = 0;
        result.status = readExactly(payload->data() + done, chunk, &received, &result.error);
        done += received;
        if (result.status != ReadStatus::kPacket) {
            break;
        }
    }
    result.received = done;
    return result;
}

int PacketStream::write(const PacketBuffer& packet) {
    const uint8_t* data = packet.packet();
    size_t left = packet.packetSize();
    while (left > 0) {
        const ssize_t n = ::send(_fd, data, left, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace host
}  // namespace vemo
