#include "EventRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Log.h"

namespace vemo {
namespace host {

EventRecord::~EventRecord() {
    const int fd = _fd.exchange(-1);
    if (fd >= 0) {
        ::close(fd);
    }
}

int EventRecord::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int err = errno;
        logLine(LogLevel::kError, "record: cannot open %s: %s", path.c_str(), std::strerror(err));
        return -err;
    }
    _fd.store(fd);
    return 0;
}

void EventRecord::write(const std::string& line) {
    const int fd = _fd.load();
    if (fd < 0) {
        return;
    }
    const std::string text = line + "\n";
    std::lock_guard<std::mutex> guard(_lock);
    // One write per line with O_APPEND: a reader never sees half a line of ours.
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            logLine(LogLevel::kError, "record: write failed: %s", std::strerror(errno));
            return;
        }
        done += static_cast<size_t>(n);
    }
}

void EventRecord::request(std::string_view who, const uint8_t* data, size_t size) {
    if (!enabled()) {
        return;
    }
    Message message;
    const DecodeResult decoded = message.decode(data, size);
    std::string line = "request " + std::string(who);
    line += decoded.ok() ? entries(message) : " malformed: " + decoded.describe();
    write(line);
}

std::string EventRecord::escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F && byte != '\\') {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
            out += hex;
        }
    }
    return out;
}

std::string EventRecord::entries(const Message& message) {
    std::string out;
    for (const auto& [key, value] : message.entries()) {
        out += " " + escape(key) + "=";
        switch (value.type()) {
            case ValueType::kString:
                out += escape(value.text());
                break;
            case ValueType::kU8:
            case ValueType::kU16:
            case ValueType::kU32:
                out += std::to_string(value.number());
                break;
            case ValueType::kBuffer:
                out += "<" + std::to_string(value.bufferSize()) + " bytes>";
                break;
        }
    }
    return out;
}

}  // namespace host
}  // namespace vemo
